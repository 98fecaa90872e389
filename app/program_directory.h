#pragma once

#include "xtd/dstring.h"

// The directory of the program's own file, ending in the path separator.
xtd::dwstring programDirectory();
