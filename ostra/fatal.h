#pragma once

#include "platform/fatal.h"

namespace Ostra {

// Ends the process on a broken invariant of the runtime, after one line on
// standard error naming what broke. No input data can lead here, so there
// is nothing to recover.
[[noreturn]] inline void fatal(const char* what) noexcept { platform::fatalError(what); }

}  // namespace Ostra
