#pragma once

#include "writers/writer_if.h"
#include "xtd/strview.h"

// The writer for the archive's codec (1: FLV, 2: AVI), named after the
// archive; null without a stream header, for any other codec, or for a
// header whose fields lie beyond its payload.
WriterIf* createWriter(xtd::wstrview path, const xtd::strview* header);
