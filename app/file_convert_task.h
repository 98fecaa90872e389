#pragma once

#include <atomic>
#include <optional>
#include <vector>

#include "app/archive_list.h"
#include "app/earlier_outputs.h"
#include "app/options.h"
#include "commit/conversion_outcome.h"
#include "commit/leftovers.h"
#include "ostra/task.h"
#include "xtd/dstring.h"

class AvdReader;
struct ArchiveFacts;
class CompletionSink;
class Finisher;
class ReportFile;
class RunReport;

// What the tasks of one run share: the archives the scan found, the
// report and the finisher, and how many tasks are still at work.
struct ConversionRun {
  ArchiveList* archives = nullptr;
  RunReport* report = nullptr;
  Finisher* finisher = nullptr;
  // With --report: where each archive's facts go.
  ReportFile* reportFile = nullptr;
  Options options;
  std::atomic<int> tasks{0};
};

// Converts the archives of a run, one per call of run, taking each from
// the run's list as a worker comes to it: tasks exist for the workers, not
// for the archives, so a run over a million archives holds a handful. Each
// archive's complete output goes to the finisher, or the report learns why
// there is none, and the archive counts as finished on the progress
// display. Once the list is empty, or the run is asked to stop, the task
// hands itself back and deletes itself; the last one stops the dispatcher.
class FileConvertTask : public Ostra::Task {
 public:
  // Tasks per run, as many as the banner's threads: a task waiting for
  // another name of its file leaves the workers others.
  static constexpr int kTasks = 4;
  // How long a name waits for another name of its file to be let go.
  static constexpr std::int32_t kRetryTicks = 10;

  explicit FileConvertTask(ConversionRun& run) : run_(run) { run_.tasks.fetch_add(1); }

  void run(Ostra::TaskContext& context, Ostra::Tick now) override;

 private:
  void end(Ostra::TaskContext& context);

  ConversionRun& run_;
  ArchiveList::Taken current_;
  bool holding_ = false;
};

// The whole conversion of the archive at `path`, its output committed at
// once, without the bookkeeping of the run. Nothing escapes it as an
// exception.
ConversionOutcome convertArchive(xtd::wstrview path, const Options& options = Options());
// The same with a reader of the caller's (a fuzzer reads in small refills).
ConversionOutcome convertArchive(xtd::wstrview path, AvdReader& reader, const Options& options = Options());
// The conversion with a finisher that commits complete outputs in batches
// and records their outcomes: an outcome here only when the conversion
// ended before its output was complete.
// `leftovers`: the temporary files the scan found beside the archive;
// `facts`, when given, learns what the report file tells of the archive,
// before the conversion goes to the finisher.
std::optional<ConversionOutcome> convertArchive(xtd::wstrview path, AvdReader& reader, CompletionSink& finisher,
                                                const Leftovers* leftovers = nullptr, const Options& options = Options(),
                                                ArchiveFacts* facts = nullptr);

// What a run would do with one archive, found without changing anything.
struct ArchiveSurvey {
  // Converted when a run would convert it (or, keeping archives, skip it as
  // `alreadyConverted`); else the reason the run would give.
  ConversionOutcome outcome;
  // The outputs it would write, once its stream header is known.
  std::vector<PlannedOutput> outputs;
  bool alreadyConverted = false;
};

// Reads the archive at `path` as far as a conversion would, with the same
// claim on it (a run that meets it leaves the archive to this one), and
// writes nothing; its access time stays where the system allows.
ArchiveSurvey surveyArchive(xtd::wstrview path, AvdReader& reader, const Options& options);

// Whether the archive at `archive` is gone and an output of its name is in
// place: another run has converted it.
bool convertedElsewhere(xtd::wstrview archive);
