#pragma once

#include "app/conversion_outcome.h"
#include "ostra/task.h"
#include "xtd/dstring.h"

class RunReport;

// Converts one archive in one run, records how it ended in the report,
// counts it as finished on the progress display, hands itself back to the
// dispatcher and deletes itself.
class FileConvertTask : public Ostra::Task {
 public:
  FileConvertTask(xtd::wstrview path, RunReport* report) : path_(path), report_(report) {}

  void run(Ostra::TaskContext& context, Ostra::Tick now) override;

 private:
  xtd::dwstring path_;
  RunReport* report_;
};

class AvdReader;

// The whole conversion of the archive at `path`, without the bookkeeping of
// the run. Nothing escapes it as an exception.
ConversionOutcome convertArchive(xtd::wstrview path);
// The same with a reader of the caller's (a fuzzer reads in small refills).
ConversionOutcome convertArchive(xtd::wstrview path, AvdReader& reader);
