#pragma once

#include "xtd/dstring.h"

// An output is written under a temporary name beside its final one:
// "NAME.flv.<process id>-<random>.avdconv-tmp". The run's own part makes
// the file its writer's alone: no other run takes it for a killed run's
// leftover, or renames it into place. The name ends in neither "avd" nor an
// output extension, so no run takes it for an archive or an output.
inline constexpr char16_t kTemporarySuffix[] = u".avdconv-tmp";

// This run's part of the names: the process id and a random number.
xtd::wstrview runTag();

// The temporary path for `finalPath` in the run `tag`. A final name too
// long to take the run's part within the file system's limit on names is
// cut, and a digest of the whole name keeps it apart from its neighbours.
xtd::dwstring temporaryPathFor(xtd::wstrview finalPath, xtd::wstrview tag = runTag());

// Whether a file name (without its directory) is any run's temporary output.
bool isTemporaryName(xtd::wstrview name);

// Whether the temporary file at `path` was written, by any run, for the
// output `finalPath` in the same directory.
bool isTemporaryOf(xtd::wstrview path, xtd::wstrview finalPath);
