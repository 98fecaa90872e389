#pragma once

#include <cstddef>
#include <cstdint>

// What each back end provides to the shared fatal-error code.
namespace platform::fatal_line {

// One write of `size` bytes to the standard error handle, unbuffered.
void writeStandardError(const char* data, std::size_t size) noexcept;

// Stores the system's text for `error` into `out` (room for `capacity`
// bytes, no terminator) and returns its length; no line break at the end.
std::size_t systemErrorText(std::uint32_t error, char* out, std::size_t capacity) noexcept;

}  // namespace platform::fatal_line
