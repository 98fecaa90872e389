#pragma once

#include "writers/avi_file.h"
#include "writers/staged_output.h"
#include "writers/writer_if.h"
#include "xtd/dstring.h"

// Turns an MJPEG archive into an AVI file next to it, one chunk per frame.
class AVIWriter : public WriterIf {
 public:
  explicit AVIWriter(xtd::wstrview archivePath);
  ~AVIWriter() override;

  bool open(const xtd::strview* header) override;
  bool writeFrame(const xtd::strview* frame, const std::uint32_t* ticks, int kind) override;
  bool complete(const platform::FileStatus* archive) override;
  const platform::FileIdentity& outputIdentity() const override { return identity_; }
  CommitResult commit(bool durable) override;

  const WriteFailure& failure() const override { return failure_; }
  const WriteFailure& metadataFailure() const override { return metadataFailure_; }
  const char16_t* outputPath() const override { return output_.finalPath(); }
  const char16_t* outputExtension() const override { return u"avi"; }

 private:
  bool refuse(WriteFailure::Kind kind) {
    failure_.record(kind);
    return false;
  }

  StagedOutput output_;
  AviFile* file_ = nullptr;
  AviStream* stream_ = nullptr;
  WriteFailure failure_;
  WriteFailure metadataFailure_;
  platform::FileIdentity identity_;
};
