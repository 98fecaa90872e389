#include "writers/h264/h264_parse_context.h"

// make_unique value-initialises, which zeroes every field.
H264ParseContext::H264ParseContext()
    : nal_(std::make_unique<NalHeader>()),
      sps_(std::make_unique<SeqParameterSet>()),
      pps_(std::make_unique<PicParameterSet>()),
      aud_(std::make_unique<AccessUnitDelimiter>()),
      slice_(std::make_unique<SliceHeader>()) {}

H264ParseContext::~H264ParseContext() = default;
