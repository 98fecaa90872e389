#pragma once

#include "xtd/dstring.h"

// The output lies next to the archive: its name with the archive extension
// the discovery matched replaced by `extension`.
xtd::dwstring outputPathFor(xtd::wstrview archivePath, xtd::wstrview extension);
