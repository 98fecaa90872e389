#include "writers/subtitle_writer.h"

#include "commit/output_path.h"

SubtitleWriter::SubtitleWriter(xtd::wstrview archivePath)
    : output_(std::make_unique<StagedFile>(outputPathFor(archivePath, xtd::wstrview(u"srt", 3)).view(), u"srt")),
      cues_([this](const char* data, std::size_t size) { return write(data, size); }) {}

bool SubtitleWriter::open() {
  if (output_->create()) return true;
  failure_.recordOutput(output_->temporaryPath());
  return false;
}

bool SubtitleWriter::write(const char* data, std::size_t size) {
  if (output_->write(data, static_cast<std::uint32_t>(size))) return true;
  failure_.recordOutput(output_->temporaryPath());
  return false;
}

bool SubtitleWriter::addFrame(std::int64_t outputMicros, std::uint32_t seconds, std::uint32_t microseconds) {
  return failure_.kind == WriteFailure::Kind::None && cues_.addFrame(outputMicros, seconds, microseconds);
}

bool SubtitleWriter::complete(std::int64_t endMicros, const platform::FileStatus* archive) {
  if (failure_.kind != WriteFailure::Kind::None || !cues_.finish(endMicros)) return false;
  if (output_->seal(archive)) return true;
  failure_ = output_->failure();
  return false;
}
