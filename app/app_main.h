#pragma once

#include "xtd/strview.h"

// The application body: chooses the directory, finds and converts every
// archive below it and prints the banner, the progress and the closing
// line. Returns the exit status, 0.
int appMain(xtd::wstrview path);
