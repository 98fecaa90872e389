#pragma once

#include <string>

// What --help and --version print on standard output, and the line a
// refused command line ends with on standard error, newlines included.
std::string helpText();
extern const char kUsageLine[];
extern const char kVersionText[];
