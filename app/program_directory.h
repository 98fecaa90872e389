#pragma once

#include "xtd/dstring.h"
#include "xtd/strview.h"

// The directory of the program's own file, ending in the path separator;
// empty when the system cannot report the program's path whole.
xtd::dwstring programDirectory();

// The directory part of a program path, ending in the separator; a path
// without a separator past its first unit stays whole.
xtd::dwstring directoryOfProgram(xtd::wstrview programPath);
