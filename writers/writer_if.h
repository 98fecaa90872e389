#pragma once

#include <cstdint>

#include "platform/files.h"
#include "platform/system_error.h"
#include "xtd/strview.h"

// Why a writer refused: the archive's stream header, the output file (with
// the system's reason), or a limit of the output format.
struct WriteFailure {
  enum class Kind : std::uint8_t { None, Header, Output, Limit };
  // Which of the writer's names the failed call was about.
  enum class Subject : std::uint8_t { Temporary, Output };

  Kind kind = Kind::None;
  Subject subject = Subject::Temporary;
  platform::SystemError error;

  // Keeps the first failure: later ones are its consequences. An output
  // failure takes the thread's last file error as its reason.
  void record(Kind k, Subject about = Subject::Temporary) {
    if (kind != Kind::None) return;
    kind = k;
    subject = about;
    if (k == Kind::Output) error = platform::lastFileError();
  }
};

// How the commit of a completed output ended.
enum class CommitResult : std::uint8_t {
  Committed,    // the output has its final name, durable as far as the file does it
  Failed,       // not renamed: whatever had the final name is as it was
  Unconfirmed,  // renamed, but the new name could not be made durable
  Displaced,    // renamed, but the final name meant another file right after
};

// The output side of one conversion: opened once with the archive's stream
// header, fed every frame in archive order, finished once at a normal end.
// The output is written under a temporary name beside its final one and
// takes the final name only when it is complete; a writer destroyed before
// that removes what it wrote and writes nothing more.
class WriterIf {
 public:
  virtual ~WriterIf() = default;

  // Prepares the output for frames; false leaves the writer refusing them.
  virtual bool open(const xtd::strview* header) = 0;
  // Appends one frame (a view valid only during the call). False when it
  // could not be written; the writer is then not finished.
  virtual bool writeFrame(const xtd::strview* frame, const std::uint32_t* ticks, int kind) = 0;
  // Writes what is still held and completes the output's contents, then
  // gives it the permission bits, owner and times of `archive` (when
  // given). Everything is handed to the system: the output stays open
  // under its temporary name, and the writer gives back its buffers, since
  // a completed writer may wait a while for its commit.
  virtual bool complete(const platform::FileStatus* archive) = 0;
  // Which file the completed output is.
  virtual const platform::FileIdentity& outputIdentity() const = 0;
  // Flushes the completed output to stable storage (unless `durable`: a
  // sync of its whole file system has done that), closes it and gives it
  // its final name, replacing whatever file or link was there. The archive
  // is not touched: the new name becomes durable with a sync of its
  // directory, which the caller makes before deleting it.
  virtual CommitResult commit(bool durable) = 0;
  // Both, at a normal end of the frames.
  bool finish(const platform::FileStatus* archive = nullptr) {
    return complete(archive) && commit(false) == CommitResult::Committed;
  }

  // Why the writer refused, once it has.
  virtual const WriteFailure& failure() const = 0;
  // Why the output did not take the archive's owner, permissions or times;
  // it is whole without them.
  virtual const WriteFailure& metadataFailure() const = 0;
  // The output's final name.
  virtual const char16_t* outputPath() const = 0;
  // The extension of its final name.
  virtual const char16_t* outputExtension() const = 0;
};
