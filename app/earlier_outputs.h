#pragma once

#include <vector>

#include "app/options.h"
#include "platform/files.h"
#include "xtd/dstring.h"

// One output a conversion of an archive writes, by its final name.
struct PlannedOutput {
  xtd::dwstring path;
  const char16_t* extension;  // a literal: flv, mp4, avi or srt
};

// The outputs a conversion of the archive at `archive` writes under
// `options`: its writer's, with `extension`, then with --timestamps the
// capture times beside it.
std::vector<PlannedOutput> plannedOutputs(xtd::wstrview archive, const char16_t* extension, const Options& options);

// Whether every one of `outputs` was made by an earlier conversion of the
// archive `archive` describes (as it stands, claimed), that kept it, and
// nothing has changed the archive since. A name proves nothing: an output
// must be a regular file with content, not the archive itself, with the
// archive's modification time to the unit (outputs take it), and made no
// earlier than the archive last changed (its change time, which no program
// can set back, is not later than the output's).
bool madeFromUnchanged(const platform::FileStatus& archive, const std::vector<PlannedOutput>& outputs);
