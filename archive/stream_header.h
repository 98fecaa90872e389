#pragma once

#include <cstdint>

#include "xtd/strview.h"

// What a writer needs from an archive's stream-header payload. The payload
// comes from the archive and may say anything: every field, and the codec
// block that the opaque block's length locates, must lie inside it.
struct StreamHeader {
  static constexpr std::uint32_t kH264 = 1;
  static constexpr std::uint32_t kMjpeg = 2;

  std::uint32_t codec = 0;
  // MJPEG
  std::uint32_t framesPerSecond = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  // H.264: views into the payload
  xtd::strview sps;
  xtd::strview pps;
};

// The codec word, or false when the payload is too short to hold one.
bool readCodec(xtd::strview payload, std::uint32_t& codec);

// Parses the codec word and the codec block of a known codec. False for an
// unknown codec or for any field that lies beyond the payload.
bool parseStreamHeader(xtd::strview payload, StreamHeader& out);
