#pragma once

#include <cstdlib>

namespace Ostra {

// Ends the process on a broken invariant of the runtime. No input data can
// lead here, so there is nothing to recover and nothing to report.
[[noreturn]] inline void fatal() noexcept { std::abort(); }

}  // namespace Ostra
