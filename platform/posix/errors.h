#pragma once

#include "platform/system_error.h"

namespace platform::posix {

// The error for an errno value, classified.
SystemError errorFrom(int code);

// Records errno (or `code`) as the thread's last file error; returns false
// so that a failing call can end with `return fail();`.
bool fail();
bool fail(int code);

}  // namespace platform::posix
