#include "writers/avi_writer.h"

#include "writers/finish_conversion.h"
#include "writers/output_path.h"
#include "writers/stream_header.h"

AVIWriter::AVIWriter(xtd::wstrview archivePath)
    : outputPath_(outputPathFor(archivePath, xtd::wstrview(u"avi", 3))), inputPath_(archivePath) {
  outputPath_.c_str();
  inputPath_.c_str();
}

AVIWriter::~AVIWriter() {
  // An unfinished output stays as written; the archive is kept.
  delete stream_;
  if (file_) aviCloseFile(file_);
}

bool AVIWriter::open(const xtd::strview* header) {
  StreamHeader h;
  if (file_ || !parseStreamHeader(*header, h) || h.codec != StreamHeader::kMjpeg) return false;
  const std::uint32_t fps = h.framesPerSecond == 0 ? 30 : h.framesPerSecond;
  file_ = aviOpenFile(h.width, h.height, fps, outputPath_.c_str());
  if (!file_) return false;
  stream_ = aviAddStream(file_);
  return stream_ != nullptr;
}

bool AVIWriter::writeFrame(const xtd::strview* frame, const std::uint32_t* /*ticks*/, int /*kind*/) {
  if (!file_ || !stream_) return false;
  return aviWriteFrame(stream_, frame->data, frame->length);
}

void AVIWriter::finish() {
  // A file whose stream could not be added has no playable header, even
  // when no frame came to be refused.
  const bool opened = file_ && stream_;
  delete stream_;
  stream_ = nullptr;
  const bool complete = aviCloseFile(file_) && opened;
  file_ = nullptr;
  if (complete && deleteInputOnFinish_) replaceArchive(outputPath_.c_str(), inputPath_.c_str());
}
