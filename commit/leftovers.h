#pragma once

#include <vector>

#include "xtd/dstring.h"

// The full paths of the temporary outputs a scan found in one directory:
// what killed runs may have left.
using Leftovers = std::vector<xtd::dwstring>;

// Removes those of `leftovers` that were written for the outputs of
// `archive`, which this run holds locked, once nobody has written them for
// a quiet period: a run that cannot see this run's lock (through another
// view of the directory) may still be writing one.
void removeLeftovers(xtd::wstrview archive, const Leftovers& leftovers);
