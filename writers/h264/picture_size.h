#pragma once

#include "writers/h264/h264_records.h"

#include <cstdint>

// The frame size the sequence parameter set codes, in whole macroblocks and
// without cropping. Without frame_mbs_only_flag a map unit is a pair of field
// macroblocks, so the frame is twice as many map units high. Hostile sizes
// wrap in unsigned arithmetic.
void codedPictureSize(const SeqParameterSet& sps, std::int32_t& width, std::int32_t& height);

// The frame size shown: the coded size less the frame cropping, which counts
// in chroma samples (luma samples without chroma or with separate colour
// planes) and, for field coding, in pairs of rows. Cropping that would leave
// no picture is ignored and the coded size given.
void displayPictureSize(const SeqParameterSet& sps, std::int32_t& width, std::int32_t& height);
