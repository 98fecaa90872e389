#pragma once

#include "writers/avi_file.h"
#include "writers/writer_if.h"
#include "xtd/dstring.h"

// Turns an MJPEG archive into an AVI file next to it, one chunk per frame.
class AVIWriter : public WriterIf {
 public:
  explicit AVIWriter(xtd::wstrview archivePath);
  ~AVIWriter() override;

  bool open(const xtd::strview* header) override;
  bool writeFrame(const xtd::strview* frame, const std::uint32_t* ticks, int kind) override;
  void finish() override;

  const xtd::dwstring& outputPath() const { return outputPath_; }

 private:
  // Opened through the wide path: a narrow open would go through the ANSI
  // code page on Windows and misname non-ASCII archives.
  xtd::dwstring outputPath_;
  xtd::dwstring inputPath_;
  AviFile* file_ = nullptr;
  AviStream* stream_ = nullptr;
  bool deleteInputOnFinish_ = true;
};
