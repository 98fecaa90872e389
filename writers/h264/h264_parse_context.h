#pragma once

#include "writers/h264/h264_records.h"

#include <memory>

// The records filled by parseNalUnit. Each is zeroed when the context is
// created and then only overwritten field by field, so a slice header is
// read against the parameter sets parsed before it.
class H264ParseContext {
public:
  H264ParseContext();
  ~H264ParseContext();
  H264ParseContext(const H264ParseContext&) = delete;
  H264ParseContext& operator=(const H264ParseContext&) = delete;

  const NalHeader& nalHeader() const { return *nal_; }
  // The sequence parameter set: the picture size is read from here.
  const SeqParameterSet& seqParameterSet() const { return *sps_; }
  const PicParameterSet& picParameterSet() const { return *pps_; }
  const AccessUnitDelimiter& accessUnitDelimiter() const { return *aud_; }
  const SliceHeader& sliceHeader() const { return *slice_; }

  NalHeader& nalHeader() { return *nal_; }
  SeqParameterSet& seqParameterSet() { return *sps_; }
  PicParameterSet& picParameterSet() { return *pps_; }
  AccessUnitDelimiter& accessUnitDelimiter() { return *aud_; }
  SliceHeader& sliceHeader() { return *slice_; }

private:
  std::unique_ptr<NalHeader> nal_;
  std::unique_ptr<SeqParameterSet> sps_;
  std::unique_ptr<PicParameterSet> pps_;
  std::unique_ptr<AccessUnitDelimiter> aud_;
  std::unique_ptr<SliceHeader> slice_;
};
