#pragma once

#include <cstdint>

#include "xtd/strview.h"

// The output side of one conversion: opened once with the archive's stream
// header, fed every frame in archive order, finished once at a normal end.
class WriterIf {
 public:
  virtual ~WriterIf() = default;

  // Prepares the output for frames; false leaves the writer refusing them.
  virtual bool open(const xtd::strview* header) = 0;
  // Appends one frame (a view valid only during the call). False when it
  // could not be written; the writer is then not finished.
  virtual bool writeFrame(const xtd::strview* frame, const std::uint32_t* ticks, int kind) = 0;
  // Completes the output and, only when all of it is on stable storage,
  // deletes the archive.
  virtual void finish() = 0;
};
