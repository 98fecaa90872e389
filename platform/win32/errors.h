#pragma once

#include "platform/system_error.h"

namespace platform::win32 {

// The error for a GetLastError() value, classified.
SystemError errorFrom(unsigned long code);
// The same for an errno value set by the C runtime.
SystemError crtErrorFrom(int code);

// Records GetLastError() (or `code`) as the thread's last file error and
// returns false, so that a failing call can end with `return fail();`.
bool fail();
bool fail(unsigned long code);
bool failCrt(int code);

}  // namespace platform::win32
