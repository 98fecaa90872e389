#include "writers/avi_writer.h"

#include "writers/output_path.h"
#include "writers/stream_header.h"

AVIWriter::AVIWriter(xtd::wstrview archivePath) : output_(outputPathFor(archivePath, xtd::wstrview(u"avi", 3)).view()) {}

AVIWriter::~AVIWriter() {
  // An unfinished output is not patched: it is closed and the staged
  // output removes it.
  delete stream_;
  aviDiscardFile(file_);
}

bool AVIWriter::open(const xtd::strview* header) {
  if (file_ || failure_.kind != WriteFailure::Kind::None) return false;
  StreamHeader h;
  if (!parseStreamHeader(*header, h) || h.codec != StreamHeader::kMjpeg) return refuse(WriteFailure::Kind::Header);
  const std::uint32_t fps = h.framesPerSecond == 0 ? 30 : h.framesPerSecond;
  const bool created = output_.create([&](const char16_t* path) {
    file_ = aviOpenFile(h.width, h.height, fps, path);
    return file_ != nullptr;
  });
  if (!created) return refuse(WriteFailure::Kind::Output);
  stream_ = aviAddStream(file_);
  if (!stream_) {
    platform::setLastFileError(platform::simulatedError(platform::SystemError::Kind::OutOfMemory));
    return refuse(WriteFailure::Kind::Output);
  }
  return true;
}

bool AVIWriter::writeFrame(const xtd::strview* frame, const std::uint32_t* /*ticks*/, int /*kind*/) {
  if (!stream_ || failure_.kind != WriteFailure::Kind::None) return false;
  if (!aviFrameFits(file_, frame->length)) return refuse(WriteFailure::Kind::Limit);
  if (!aviWriteFrame(stream_, frame->data, frame->length)) return refuse(WriteFailure::Kind::Output);
  return true;
}

bool AVIWriter::complete(const platform::FileStatus* archive) {
  if (!stream_ || failure_.kind != WriteFailure::Kind::None) return false;
  delete stream_;
  stream_ = nullptr;
  if (!aviCompleteFile(file_)) return refuse(WriteFailure::Kind::Output);
  // Handed to the system now, so that a sync of the file system takes it.
  platform::FileApi& fs = platform::files();
  const platform::FileHandle handle = fs.streamHandle(file_->stream);
  platform::FileStatus written;
  if (handle == platform::kInvalidFile || !fs.status(handle, written)) return refuse(WriteFailure::Kind::Output);
  identity_ = written.identity;
  if (archive && !fs.copyMetadata(handle, *archive)) metadataFailure_.record(WriteFailure::Kind::Output);
  return true;
}

CommitResult AVIWriter::commit(bool durable) {
  if (!file_ || !file_->completed || failure_.kind != WriteFailure::Kind::None) return CommitResult::Failed;
  AviFile* file = file_;
  file_ = nullptr;
  if (!aviCloseFile(file, !durable)) {
    refuse(WriteFailure::Kind::Output);
    return CommitResult::Failed;
  }
  const CommitResult result = output_.commit(identity_);
  if (result != CommitResult::Committed) failure_.record(WriteFailure::Kind::Output, WriteFailure::Subject::Output);
  return result;
}
