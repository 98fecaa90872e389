#pragma once

#include "app/options.h"

class ArchiveList;

// Takes the archives off `archives` one after the other, in the order they
// were found, and tells on standard output what a run with `options` would
// do with each: "PATH -> OUTPUT[, OUTPUT]" for one it would convert, "PATH:
// already converted" for one a run keeping archives would skip, "PATH: kept:
// REASON" (or "skipped:") with the report's words otherwise. Nothing on disk
// changes. Stops early once the run is asked to stop. Returns 1 when a run
// would fail for an archive, else 0.
int dryRun(ArchiveList& archives, const Options& options);
