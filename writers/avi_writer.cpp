#include "writers/avi_writer.h"

#include "archive/stream_header.h"

AVIWriter::AVIWriter(xtd::wstrview archivePath)
    : StagedWriter(archivePath, u"avi") {
  sized_.runningLength = AviFile::kHeaderSize;
}

bool AVIWriter::acceptsHeader(const xtd::strview* header) {
  StreamHeader h;
  if (!parseStreamHeader(*header, h) || h.codec != StreamHeader::kMjpeg) return refuse(WriteFailure::Kind::Header);
  return true;
}

bool AVIWriter::open(const xtd::strview* header) {
  if (file_ || failed() || !acceptsHeader(header)) return false;
  StreamHeader h;
  parseStreamHeader(*header, h);
  const std::uint32_t fps = h.framesPerSecond == 0 ? 30 : h.framesPerSecond;
  framesPerSecond_ = fps;
  if (!output_->createStream(AviFile::kStreamBufferSize)) return refuseOutput();
  file_ = aviOpenFile(h.width, h.height, fps, output_->stream());
  if (!file_) return refuseOutput();
  stream_ = aviAddStream(file_.get());
  if (!stream_) {
    platform::setLastFileError(platform::simulatedError(platform::SystemError::Kind::OutOfMemory));
    return refuseOutput();
  }
  return true;
}

bool AVIWriter::writeFrame(const xtd::strview* frame, const std::uint32_t* /*ticks*/, int /*kind*/) {
  if (!stream_ || failed()) return false;
  if (!aviFrameFits(file_.get(), frame->length)) return refuse(WriteFailure::Kind::Limit);
  if (!aviWriteFrame(stream_.get(), frame->data, frame->length)) return refuseOutput();
  ++frames_;
  return true;
}

bool AVIWriter::indexFrame(const xtd::strview* frame, std::uint32_t, std::uint32_t, int) {
  if (failed()) return false;
  if (!aviFrameFits(&sized_, frame->length)) return refuse(WriteFailure::Kind::Limit);
  sized_.runningLength += 8 + frame->length + (frame->length & 1u);
  ++sized_.mainHeader.totalFrames;
  return true;
}

bool AVIWriter::complete(const platform::FileStatus* archive) {
  if (!stream_ || failed()) return false;
  stream_.reset();
  if (!aviCompleteFile(file_.get())) return refuseOutput();
  file_.reset();
  if (!sealOutput(archive)) return false;
  completed_ = true;
  return true;
}

std::unique_ptr<StagedFile> AVIWriter::takeOutput() {
  if (!completed_) return nullptr;
  completed_ = false;
  return std::move(output_);
}
