#pragma once

#include "ostra/task.h"
#include "xtd/dstring.h"

// How the conversion of one archive ended.
enum class ConversionOutcome {
  Converted,         // frames ended normally; the writer was finished
  WriterRefused,     // a frame could not be written; the archive stays
  CannotOpen,        // the archive could not be opened
  NoStreamHeader,    // the first record is not a stream header (empty file too)
  NoWriter,          // no writer for the codec, or a header that does not hold
  Failed,            // an exception ended the conversion; the archive stays
};

// Converts one archive in one run, counts it as finished on the progress
// display, hands itself back to the dispatcher and deletes itself.
class FileConvertTask : public Ostra::Task {
 public:
  explicit FileConvertTask(xtd::wstrview path) : path_(path) {}

  void run(Ostra::TaskContext& context, Ostra::Tick now) override;

 private:
  xtd::dwstring path_;
};

class AvdReader;

// The whole conversion of the archive at `path`, without the bookkeeping of
// the run. Nothing escapes it as an exception.
ConversionOutcome convertArchive(xtd::wstrview path);
// The same with a reader of the caller's (a fuzzer reads in small refills).
ConversionOutcome convertArchive(xtd::wstrview path, AvdReader& reader);
