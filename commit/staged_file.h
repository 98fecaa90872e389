#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "commit/file_name.h"
#include "platform/files.h"
#include "platform/system_error.h"
#include "xtd/dstring.h"

// Why an output could not be made: the archive's stream header, the output
// file (with the system's reason), a limit of the output format, a frame
// the format cannot hold, or an archive that changed between two passes.
struct WriteFailure {
  enum class Kind : std::uint8_t { None, Header, Output, Limit, Unsupported, Changed };

  Kind kind = Kind::None;
  // An output failure's reason, and the file (temporary or final) it was
  // about.
  platform::SystemError error;
  FileName file;

  // Each keeps the first failure: later ones are its consequences.
  void record(Kind k) {
    if (kind == Kind::None) kind = k;
  }
  // The call on `path` that has just failed, with the system's reason
  // (or the one given).
  void recordOutput(const char16_t* path) { recordOutput(path, platform::lastFileError()); }
  void recordOutput(const char16_t* path, const platform::SystemError& reason) {
    if (kind != Kind::None) return;
    kind = Kind::Output;
    error = reason;
    file = FileName(path);
  }
};

// How the commit of a completed output ended.
enum class CommitResult : std::uint8_t {
  Committed,    // the output has its final name, durable as far as the file does it
  Failed,       // not renamed: whatever had the final name is as it was
  Unconfirmed,  // renamed, but the new name could not be made durable
  Displaced,    // renamed, but the final name meant another file right after
};

// One output of a conversion, from its creation under a temporary name of
// this run's own, beside its final name, to its commit: a formatter writes
// its format into the file, seals it once complete, and the commit sequence
// (see commit.h) flushes, closes and renames it. Whatever sits at the final
// name is replaced by a whole file or not at all; an output destroyed
// before its rename is closed and removed.
class StagedFile {
 public:
  // `extension`, a literal, is the final name's (for the report).
  StagedFile(xtd::wstrview finalPath, const char16_t* extension);
  ~StagedFile() { discard(); }
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Creates the temporary file, new, for writes through handle(); or as a
  // buffered C stream for writes through stream(). False with the reason in
  // lastFileError().
  bool create();
  bool createStream(std::size_t bufferSize);
  platform::FileHandle handle() const { return file_.get(); }
  platform::Stream* stream() const { return stream_; }
  // Appends to a file created for writes through handle(), all bytes or
  // none (with the reason in lastFileError()), and starts writing what the
  // system holds to the disk every few MiB, so that the commit's flush
  // finds little left to do.
  bool write(const void* data, std::uint32_t size);

  // The content is complete: everything is handed to the system, and the
  // file takes the permission bits, owner and times of `archive` (when
  // given). False, with the reason recorded, when the file cannot be looked
  // at; a refused owner, mode or time is only noted (metadataFailure()).
  bool seal(const platform::FileStatus* archive);
  // Flushes the sealed file to stable storage (unless `durable`: a sync of
  // its whole file system has done that), closes it, gives it its final
  // name and checks that the name then means the file written.
  CommitResult commit(bool durable);
  // Closes and removes the temporary file, unless it was renamed.
  void discard();

  const char16_t* finalPath() const { return final_.data(); }
  const char16_t* temporaryPath() const { return temporary_.data(); }
  const char16_t* extension() const { return extension_; }
  const platform::FileIdentity& identity() const { return identity_; }
  // Why the commit failed, once it has.
  const WriteFailure& failure() const { return failure_; }
  // Why the output lacks the archive's owner, permissions or times; it is
  // whole without them.
  const WriteFailure& metadataFailure() const { return metadataFailure_; }

 private:
  bool closeFile();

  xtd::dwstring final_;
  xtd::dwstring temporary_;
  // How much written data the system is left to hold before it is told to
  // start writing it to the disk.
  static constexpr std::uint64_t kWriteBackStep = 4 * 0x100000;

  const char16_t* extension_;
  platform::ScopedFile file_;
  std::uint64_t written_ = 0;
  std::uint64_t writtenBack_ = 0;
  platform::Stream* stream_ = nullptr;
  std::unique_ptr<char[]> streamBuffer_;
  platform::FileIdentity identity_;
  bool pending_ = false;  // a temporary file may exist
  bool sealed_ = false;
  WriteFailure failure_;
  WriteFailure metadataFailure_;
};
