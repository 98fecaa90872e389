#pragma once

#include <cstdint>

#include "writers/writer_if.h"
#include "xtd/strview.h"

// What H.264 recordings become; MJPEG recordings become AVI either way.
enum class OutputFormat : std::uint8_t { Flv, Mp4 };

// The writer for the archive's codec (1: FLV or MP4, 2: AVI), named after
// the archive; null without a stream header, for any other codec, or for a
// header whose fields lie beyond its payload.
WriterIf* createWriter(xtd::wstrview path, const xtd::strview* header, OutputFormat format = OutputFormat::Flv);
