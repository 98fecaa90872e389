#pragma once

#include "xtd/dstring.h"

// The output lies next to the archive: its name with the archive extension
// the discovery matched replaced by `extension`.
xtd::dwstring outputPathFor(xtd::wstrview archivePath, xtd::wstrview extension);

// Every extension a conversion gives its outputs (three units each): what
// another run may have written, and what a killed run may have left.
inline constexpr const char16_t* kOutputExtensions[] = {u"flv", u"avi", u"mp4", u"srt"};
