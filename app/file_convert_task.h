#pragma once

#include <memory>
#include <optional>

#include "app/conversion_outcome.h"
#include "app/leftovers.h"
#include "ostra/task.h"
#include "xtd/dstring.h"

class AvdReader;
class CompletionSink;
class Finisher;
class RunReport;

// Converts one archive in one run, hands its complete output to the
// finisher or records in the report why there is none, counts it as
// finished on the progress display, hands itself back to the dispatcher and
// deletes itself.
class FileConvertTask : public Ostra::Task {
 public:
  // How long a name waits for another name of its file to be let go.
  static constexpr std::int32_t kRetryTicks = 10;

  FileConvertTask(xtd::wstrview path, RunReport* report, Finisher* finisher,
                  std::shared_ptr<const Leftovers> leftovers = nullptr)
      : path_(path), report_(report), finisher_(finisher), leftovers_(std::move(leftovers)) {}

  void run(Ostra::TaskContext& context, Ostra::Tick now) override;

 private:
  xtd::dwstring path_;
  RunReport* report_;
  Finisher* finisher_;
  std::shared_ptr<const Leftovers> leftovers_;
};

// The whole conversion of the archive at `path`, its output committed at
// once, without the bookkeeping of the run. Nothing escapes it as an
// exception.
ConversionOutcome convertArchive(xtd::wstrview path);
// The same with a reader of the caller's (a fuzzer reads in small refills).
ConversionOutcome convertArchive(xtd::wstrview path, AvdReader& reader);
// The conversion with a finisher that commits complete outputs in batches
// and records their outcomes: an outcome here only when the conversion
// ended before its output was complete.
// `leftovers`: the temporary files the scan found beside the archive.
std::optional<ConversionOutcome> convertArchive(xtd::wstrview path, AvdReader& reader, CompletionSink& finisher,
                                                const Leftovers* leftovers = nullptr);

// Whether the archive at `archive` is gone and an output of its name is in
// place: another run has converted it.
bool convertedElsewhere(xtd::wstrview archive);
