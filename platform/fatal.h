#pragma once

#include <cstdint>

namespace platform {

// The end of a process that cannot go on. Each writes one line to standard
// error in a single write, "avdconv: fatal: " and what failed, then aborts.
// Neither allocates nor takes a lock, so they serve inside locks, on
// out-of-memory paths and on threads that are ending.

// The line names what broke: "avdconv: fatal: <what>".
[[noreturn]] void fatalError(const char* what) noexcept;

// The line names the system call and the system's text for its error
// number (errno on POSIX, GetLastError on Windows):
// "avdconv: fatal: <call>: <text>".
[[noreturn]] void fatalSystemError(const char* call, std::uint32_t error) noexcept;

}  // namespace platform
