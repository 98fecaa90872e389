#include "commit/staged_file.h"

#include <new>

#include "commit/temporary_name.h"

StagedFile::StagedFile(xtd::wstrview finalPath, const char16_t* extension)
    : final_(finalPath), temporary_(temporaryPathFor(finalPath)), extension_(extension) {
  // Terminated now: nothing on the failure paths allocates.
  final_.c_str();
  temporary_.c_str();
}

bool StagedFile::create() {
  pending_ = true;
  file_ = platform::ScopedFile(platform::files().createNew(temporaryPath()));
  return static_cast<bool>(file_);
}

bool StagedFile::createStream(std::size_t bufferSize) {
  streamBuffer_.reset(new (std::nothrow) char[bufferSize]);
  if (!streamBuffer_) {
    platform::setLastFileError(platform::simulatedError(platform::SystemError::Kind::OutOfMemory));
    return false;
  }
  pending_ = true;
  stream_ = platform::files().streamCreate(temporaryPath(), streamBuffer_.get(), bufferSize);
  return stream_ != nullptr;
}

bool StagedFile::write(const void* data, std::uint32_t size) {
  platform::FileApi& fs = platform::files();
  if (!fs.write(file_.get(), data, size)) return false;
  written_ += size;
  if (written_ - writtenBack_ >= kWriteBackStep) {
    fs.startWriteBack(file_.get(), writtenBack_, written_ - writtenBack_);
    writtenBack_ = written_;
  }
  return true;
}

bool StagedFile::seal(const platform::FileStatus* archive) {
  platform::FileApi& fs = platform::files();
  // A stream hands what it still buffers to the system here.
  const platform::FileHandle h = stream_ ? fs.streamHandle(stream_) : file_.get();
  platform::FileStatus written;
  if (h == platform::kInvalidFile || !fs.status(h, written)) {
    failure_.recordOutput(temporaryPath());
    return false;
  }
  identity_ = written.identity;
  // After the last write, which would set the time again.
  if (archive && !fs.copyMetadata(h, *archive, &written)) metadataFailure_.recordOutput(temporaryPath());
  sealed_ = true;
  return true;
}

bool StagedFile::closeFile() {
  if (!stream_) return file_.close();
  platform::Stream* s = stream_;
  stream_ = nullptr;
  return platform::files().streamClose(s);
}

CommitResult StagedFile::commit(bool durable) {
  if (!sealed_ || failure_.kind != WriteFailure::Kind::None) return CommitResult::Failed;
  sealed_ = false;
  platform::FileApi& fs = platform::files();
  // The data reaches stable storage before the name does.
  const bool flushed = durable || (stream_ ? fs.streamFlushToDisk(stream_) : fs.flushToDisk(file_.get()));
  if (!flushed || !closeFile()) {
    failure_.recordOutput(temporaryPath());
    return CommitResult::Failed;
  }
  if (!fs.rename(temporary_.c_str(), final_.c_str())) {
    // A directory at the final name refuses the rename (with another error
    // on each system): it is looked for only then, not for every output.
    const platform::SystemError refused = platform::lastFileError();
    platform::FileStatus existing;
    const bool directory = fs.pathStatus(final_.c_str(), existing) && existing.kind == platform::FileKind::Directory;
    failure_.recordOutput(finalPath(), directory ? platform::simulatedError(platform::SystemError::Kind::IsDirectory)
                                                 : refused);
    return CommitResult::Failed;
  }
  pending_ = false;
  if (fs.syncName(final_.c_str()) == platform::SyncResult::Failed) {
    failure_.recordOutput(finalPath());
    return CommitResult::Unconfirmed;
  }
  // The rename went by name: had anything else taken the temporary name, or
  // the final one since, the archive must stay.
  platform::FileStatus landed;
  if (!fs.pathStatus(final_.c_str(), landed)) {
    failure_.recordOutput(finalPath());
    return CommitResult::Displaced;
  }
  if (!(landed.identity == identity_)) {
    failure_.recordOutput(finalPath(), platform::SystemError{});
    return CommitResult::Displaced;
  }
  return CommitResult::Committed;
}

void StagedFile::discard() {
  closeFile();
  if (!pending_) return;
  pending_ = false;
  try {
    platform::files().remove(temporary_.c_str());
  } catch (const std::bad_alloc&) {
    // Without memory to name it (Windows), the file stays for a later run.
  }
}
