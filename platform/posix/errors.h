#pragma once

#include "platform/system_error.h"

namespace platform::posix {

// The error for an errno value, classified.
SystemError errorFrom(int code, const char* call = nullptr);

// Records errno (or `code`) as the thread's last file error, failed in
// `call`; returns false so that a failing call can end with
// `return fail("fsync");`.
bool fail(const char* call);
bool fail(const char* call, int code);

}  // namespace platform::posix
