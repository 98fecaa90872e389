#pragma once

#include <cstddef>
#include <cstdint>
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

// Makes the process safe to run from a scheduler or with a closed console,
// before anything else is opened: standard input, output and error are
// made valid (the null device stands in for a closed one, so that no file
// the program opens can take its place and receive console text), and a
// write to a console that went away fails instead of ending the program
// (the hangup itself is a request to stop, see interrupts.h).
void prepareProcess();

// The path an argument as argumentsAsUtf8 delivers it names; false when it
// names none exactly. On POSIX the bytes are the name itself, and those
// that are not UTF-8 travel as the paths of the listing carry them (see
// DirectoryEntry::name); on Windows they are UTF-16 encoded by the program.
bool pathFromArgument(const char* bytes, std::size_t size, std::u16string& path);

// The running process's id.
std::uint32_t processId();

// Ends the process at once with `status`, as a kill would: no destructor,
// no flush, no exit handler of the runtime or of any library (on Windows no
// library is told of the end, which a thread killed meanwhile might hold up).
[[noreturn]] void endProcessAtOnce(int status);

// Whether an argument is the request for help that this system's own
// programs take beside --help and -h: "/?" on Windows, where no path can
// hold a "?"; nothing on POSIX, where "/?" names a directory.
bool isSystemHelpSwitch(const std::string& argument);

// Console output, written in the order of the calls.
void writeStdout(const char* data, std::size_t size);
void writeStderr(const char* data, std::size_t size);
void flushStdout();
// Whether standard error shows up where standard output does (one terminal,
// or one file or pipe), so that text on it would continue the line that
// standard output left open.
bool stderrJoinsStdout();

}  // namespace platform
