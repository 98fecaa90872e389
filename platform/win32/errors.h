#pragma once

#include "platform/system_error.h"

namespace platform::win32 {

// The error for a GetLastError() value, classified, failed in `call`.
SystemError errorFrom(unsigned long code, const char* call = nullptr);
// The same for an errno value set by the C runtime.
SystemError crtErrorFrom(int code, const char* call = nullptr);

// Records GetLastError() (or `code`) as the thread's last file error, failed
// in `call`, and returns false, so that a failing call can end with
// `return fail("FlushFileBuffers");`.
bool fail(const char* call);
bool fail(const char* call, unsigned long code);
bool failCrt(const char* call, int code);

}  // namespace platform::win32
