#pragma once

#include <cstdint>

#include "archive/avd_record_header.h"
#include "xtd/strview.h"

// What a record must look like to be taken for one the recorder wrote, once
// an archive is read for salvage: a header whose fields are in range and a
// payload whose own structure agrees with its length. Each check costs
// nothing on a record that fails it early, and reads no byte outside what
// it is given.
struct RecordCheck {
  // How far a record's time may lie from the last good one's.
  static constexpr std::uint32_t kWindowSeconds = 24 * 60 * 60;
  // No stream header is anywhere near this long.
  static constexpr std::uint32_t kMaxStreamHeader = 1u << 20;

  // The codec of the session the frames belong to (StreamHeader::kH264 or
  // kMjpeg).
  std::uint32_t codec = 0;
  // The time of the last good record, and whether the window applies (the
  // false-positive bench looks at every time).
  std::uint32_t seconds = 0;
  bool anyTime = false;

  // The header of a record at `offset`, in a file of `size` bytes: a type
  // that exists, microseconds below a second, a time within the window, and
  // a length that fits the type and the file.
  bool header(const AvdRecordHeader& h, std::uint64_t offset, std::uint64_t size) const;
  // The first kStart bytes of the payload (all of a shorter one) of a
  // record of type `type` and length `length`: what can be told before the
  // rest is read.
  static constexpr std::uint32_t kStart = 16;
  bool payloadStart(std::uint8_t type, std::uint32_t length, xtd::strview start) const;
  // The payload of a record of type `type`, for the session's codec.
  bool payload(std::uint8_t type, xtd::strview payload) const;
};

// One FLV video tag carrying AVC NAL units (or the end of the sequence):
// the tag's sizes agree with the payload's length, and the NAL units'
// lengths chain exactly to the end of its body.
bool plausibleH264Frame(xtd::strview payload);
// One JPEG picture: start of image, a marker, and end of image before any
// zero padding.
bool plausibleMjpegFrame(xtd::strview payload);
// A stream header of a known codec with its set-up (for H.264, a sequence
// and a picture parameter set).
bool plausibleStreamHeader(xtd::strview payload);
