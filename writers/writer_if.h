#pragma once

#include <cstdint>

#include "platform/system_error.h"
#include "xtd/strview.h"

// Why a writer refused: the archive's stream header, the output file (with
// the system's reason), or a limit of the output format.
struct WriteFailure {
  enum class Kind : std::uint8_t { None, Header, Output, Limit };

  Kind kind = Kind::None;
  platform::SystemError error;

  // Keeps the first failure: later ones are its consequences. An output
  // failure takes the thread's last file error as its reason.
  void record(Kind k) {
    if (kind != Kind::None) return;
    kind = k;
    if (k == Kind::Output) error = platform::lastFileError();
  }
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
  // Writes what is still held and completes the output's contents. The
  // output stays open under its temporary name, and the writer gives back
  // its buffers: a completed writer may wait a while for its commit.
  virtual bool complete() = 0;
  // Flushes the completed output to stable storage, closes it and gives it
  // its final name, replacing whatever file or link was there. True when it
  // did. The archive is not touched: the new name becomes durable with a
  // sync of its directory, which the caller makes before deleting it.
  virtual bool commit() = 0;
  // Both, at a normal end of the frames.
  bool finish() { return complete() && commit(); }

  // Why the writer refused, once it has.
  virtual const WriteFailure& failure() const = 0;
  // The output's final name.
  virtual const char16_t* outputPath() const = 0;
};
