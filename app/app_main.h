#pragma once

#include "app/options.h"
#include "xtd/strview.h"

// The application body: chooses the directory, finds and converts every
// archive below it and prints the banner, the progress and the closing
// line. Returns the exit status: 0, or 1 when the workers cannot start
// (no archive is touched then).
int appMain(xtd::wstrview path, const Options& options);
