#pragma once

#include <cstdint>

#include "xtd/dstring.h"
#include "xtd/strview.h"

// The AVC decoder configuration record, shared by FLV's sequence header and
// MP4's avcC box: one SPS (NAL header byte included), one PPS, 4-byte NAL
// unit lengths in the samples.

// The record counts each parameter set's length in 16 bits.
inline constexpr std::uint32_t kMaxAvcParameterSetSize = 0xFFFF;

// Whether a stream header's parameter sets make a whole configuration: the
// profile, compatibility and level bytes follow the SPS's NAL header byte,
// and the record counts each set in 16 bits.
constexpr bool fitsAvcConfiguration(xtd::strview sps, xtd::strview pps) {
  return sps.length >= 4 && sps.length <= kMaxAvcParameterSetSize && pps.length <= kMaxAvcParameterSetSize;
}

// The record's length for these sets.
constexpr std::uint32_t avcDecoderConfigurationSize(xtd::strview sps, xtd::strview pps) {
  return 11 + sps.length + pps.length;
}

// Appends the record. False, with nothing appended, when either set is longer
// than kMaxAvcParameterSetSize. An SPS shorter than 4 bytes gives zeros for the
// profile, compatibility and level bytes it lacks; nothing past its end is read.
bool appendAvcDecoderConfiguration(xtd::dstring& out, xtd::strview sps, xtd::strview pps);
