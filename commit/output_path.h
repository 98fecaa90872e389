#pragma once

#include "xtd/dstring.h"

// The output lies next to the archive: its name with the archive extension
// the discovery matched replaced by `extension`.
xtd::dwstring outputPathFor(xtd::wstrview archivePath, xtd::wstrview extension);

// The name of the archive whose outputs would be those of this archive's
// recording session `number` (2 and on): "NAME.2.avd" for "NAME.avd". A
// session's outputs are named after it ("NAME.2.flv"), and a file of that
// name is another archive.
xtd::dwstring sessionArchivePath(xtd::wstrview archivePath, std::uint32_t number);

// Every extension a conversion gives its outputs (three units each): what
// another run may have written, and what a killed run may have left.
inline constexpr const char16_t* kOutputExtensions[] = {u"flv", u"avi", u"mp4", u"srt"};
