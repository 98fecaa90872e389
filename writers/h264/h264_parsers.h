#pragma once

#include "writers/h264/bit_reader.h"
#include "writers/h264/h264_records.h"

// Parsers of the header-carrying NAL unit kinds, each reading the RBSP
// after the NAL header byte. They return false when a count read from the
// stream exceeds its array: the unit is then abandoned at that point and
// the fields read before it stay.
bool parseSeqParameterSet(BitReader& r, SeqParameterSet& sps);
bool parsePicParameterSet(BitReader& r, PicParameterSet& pps);
bool parseAccessUnitDelimiter(BitReader& r, AccessUnitDelimiter& aud);
bool parseSliceHeader(BitReader& r, const NalHeader& nal, const SeqParameterSet& sps,
                      const PicParameterSet& pps, SliceHeader& slice);
