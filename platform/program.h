#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Stores the full path of the running program's file into `buffer` (room
// for `capacity` units including a terminating zero) and returns the number
// of units stored before the terminator; 0 when it cannot be determined.
// A path that does not fit is cut to capacity - 1 units.
std::uint32_t programPath(char16_t* buffer, std::uint32_t capacity);

// The command-line arguments as UTF-8 bytes, the program name first. On
// Windows they are taken from the wide command line, so that a name outside
// the ANSI code page reaches the program intact.
std::vector<std::string> argumentsAsUtf8(int argc, char** argv);

// Whether an argument as argumentsAsUtf8 delivers it names exactly the path
// it decodes to. On POSIX the bytes are the name itself: lenient decoding
// could turn bytes that are not UTF-8 into another, valid name.
bool argumentDecodesExactly(const char* bytes, std::size_t size);

// Console output, written in the order of the calls.
void writeStdout(const char* data, std::size_t size);
void writeStderr(const char* data, std::size_t size);
void flushStdout();

}  // namespace platform
