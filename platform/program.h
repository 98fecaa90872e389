#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace platform {

// The full path of the running program's file, read whole; empty when the
// system cannot report it whole (a cut path would name an ancestor).
std::u16string programPath();

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
