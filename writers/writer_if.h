#pragma once

#include <cstdint>

#include <memory>

#include "commit/staged_file.h"
#include "platform/files.h"
#include "xtd/strview.h"

// The output side of one conversion, a formatter: opened once with the
// archive's stream header, fed every frame in archive order, completed once
// at a normal end. It writes its format into a StagedFile and hands that
// over, complete and sealed, for the commit (commit/commit.h) to give it
// its final name; a writer destroyed before that removes what it wrote.
class WriterIf {
 public:
  virtual ~WriterIf() = default;

  // Whether the archive's stream header is one this writer converts, asked
  // without creating anything; false records why. Open asks it first.
  virtual bool acceptsHeader(const xtd::strview* header) = 0;
  // Prepares the output for frames; false leaves the writer refusing them.
  virtual bool open(const xtd::strview* header) = 0;
  // A writer that needs every frame's size and time before it writes the
  // first (an MP4's index comes before its frames) is given each frame here
  // first, with its capture time, in a pass of its own; the same frames then
  // come again through writeFrame. False refuses the frame. A dry run gives
  // every writer, unopened, every frame here alone: a frame writeFrame would
  // refuse for what it holds is refused here too.
  virtual bool wantsIndex() const { return false; }
  virtual bool indexFrame(const xtd::strview* /*frame*/, std::uint32_t /*seconds*/, std::uint32_t /*microseconds*/,
                          int /*kind*/) {
    return true;
  }
  // Appends one frame (a view valid only during the call). False when it
  // could not be written; the writer is then not finished.
  virtual bool writeFrame(const xtd::strview* frame, const std::uint32_t* ticks, int kind) = 0;
  // On the output's own timeline, in microseconds: where the frame written
  // last begins, and where the last frame ends (it lasts as long as the one
  // before it).
  virtual std::int64_t frameTime() const = 0;
  virtual std::int64_t endTime() const = 0;
  // Writes what is still held and completes the output's contents, then
  // seals it with the permission bits, owner and times of `archive` (when
  // given). Everything is handed to the system; the writer gives back its
  // buffers, since a completed output may wait a while for its commit.
  virtual bool complete(const platform::FileStatus* archive) = 0;
  // Hands over the completed output; the writer holds nothing after it.
  virtual std::unique_ptr<StagedFile> takeOutput() = 0;
  // Completes the output and commits it alone (the directory's sync is the
  // caller's), for a writer driven outside a run.
  bool finish(const platform::FileStatus* archive = nullptr) {
    if (!complete(archive)) return false;
    const std::unique_ptr<StagedFile> output = takeOutput();
    return output && output->commit(false) == CommitResult::Committed;
  }

  // Why the writer refused, once it has.
  virtual const WriteFailure& failure() const = 0;
  // The output's final name.
  virtual const char16_t* outputPath() const = 0;
  // The extension of its final name.
  virtual const char16_t* outputExtension() const = 0;
};
