#include "app/app_main.h"

#include <chrono>
#include <string>
#include <thread>

#include "app/archive_list.h"
#include "app/console_text.h"
#include "app/dry_run.h"
#include "app/file_convert_task.h"
#include "app/file_locator.h"
#include "app/finisher.h"
#include "app/printable_name.h"
#include "app/program_directory.h"
#include "app/progress.h"
#include "app/report_file.h"
#include "app/run_report.h"
#include "commit/archive_name.h"
#include "ostra/task_dispatcher.h"
#include "platform/interrupts.h"
#include "platform/program.h"

namespace {

// How many times the report waits a tenth of a second for other runs.
constexpr int kOtherRunWaits = 20;

// No argument, "." and "./" mean the program's own directory; any other
// spelling of a directory is scanned as given.
bool namesProgramDirectory(xtd::wstrview path) {
  return path.length == 0 || xtd::equals(path, u".") || xtd::equals(path, u"./");
}

// Tells on standard error what became of every archive still there, the
// ones no task came to (`rest`) included; nothing when all were converted.
// Returns the exit status.
int report(RunReport& report, bool directoryKnown, ArchiveList* rest, ConversionOutcome::Reason whyRest) {
  bool started = false;
  auto out = [&](const std::string& line) {
    // The closing text leaves its line open.
    if (!started && platform::stderrJoinsStdout()) platform::writeStderr("\n", 1);
    started = true;
    platform::writeStderr(line.data(), line.size());
  };
  if (!directoryKnown) out("avdconv: the program's own directory cannot be determined\n");
  const bool told = report.write(out, rest, whyRest);
  if (!directoryKnown) return 1;
  return told ? report.exitStatus() : 0;
}

}  // namespace

int appMain(xtd::wstrview path, const Options& options) {
  Ostra::TaskDispatcher dispatcher;
  // Outlives everything that may tell an outcome.
  ReportFile reportFile;
  const bool reporting = !options.report.empty();
  RunReport runReport;
  if (reporting) {
    // Before the scan: a report that cannot be written is a bad value, and
    // nothing is touched.
    const xtd::wstrview reportPath(options.report.data(), static_cast<std::uint32_t>(options.report.size()));
    if (!reportFile.create(reportPath)) {
      const std::string line = "avdconv: cannot create the report " + printableName(reportPath) + ": " +
                               platform::describe(platform::lastFileError()) + "\n";
      platform::writeStderr(line.data(), line.size());
      return 2;
    }
    runReport.setListener(
        [&reportFile](xtd::wstrview archive, const ConversionOutcome& outcome) { reportFile.record(archive, outcome); });
  }
  // The report file's summary, with the status it is to end with.
  auto done = [&](int status) {
    if (!reporting || reportFile.finish(runReport.converted(), runReport.kept(), runReport.skipped(), status)) {
      return status;
    }
    const std::string line = reportFile.failure();
    platform::writeStderr(line.data(), line.size());
    return status == 0 ? 1 : status;
  };
  Finisher finisher([&runReport](xtd::wstrview archive, const ConversionOutcome& outcome) {
    runReport.record(archive, outcome);
  });
  ArchiveList archives;
  FileLocator locator(&archives, &runReport);
  locator.setShard(options.shard);
  if (reporting) locator.exclude(reportFile.identity());
  if (namesProgramDirectory(path)) {
    locator.setPath(programDirectory().view());
  } else {
    locator.setPath(path);
  }
  locator.keepAccessTimes(options.dryRun);
  locator.findFiles(xtd::wstrview::literal(kArchiveExtension));
  if (platform::interruptSignal() != 0) {
    // Stopped during the scan: nothing has been opened yet.
    static constexpr char kStopped[] = "avdconv: interrupted during the scan; no archive was touched\n";
    platform::writeStderr(kStopped, sizeof kStopped - 1);
    platform::interruptHandled();
    return done(platform::interruptExitStatus());
  }

  const std::string printable = printableName(locator.path().view());
  writeBanner(xtd::strview(printable.data(), static_cast<std::uint32_t>(printable.size())), options.format);

  const auto total = static_cast<std::uint32_t>(archives.count());
  if (options.dryRun) {
    const int dryStatus = dryRun(archives, options);
    if (platform::interruptSignal() != 0) {
      // What the scan skipped is told; the archives not looked at are not.
      report(runReport, !locator.path().empty(), nullptr, ConversionOutcome::Reason::NotStarted);
      platform::interruptHandled();
      return platform::interruptExitStatus();
    }
    writeClosingLine(total > 0, false);
    const int status = report(runReport, !locator.path().empty(), nullptr, ConversionOutcome::Reason::NotStarted);
    return status > dryStatus ? status : dryStatus;
  }
  progress().restart(total);
  ConversionRun run;
  run.archives = &archives;
  run.report = &runReport;
  run.finisher = &finisher;
  run.options = options;
  if (reporting) run.reportFile = &reportFile;
  if (total > 0) {
    // Tasks for the workers, not for the archives: each takes the next
    // archive off the list when it comes to it.
    for (std::uint32_t i = 0; i < total && i < FileConvertTask::kTasks; ++i) dispatcher.post(new FileConvertTask(run));
    progress().update();
    if (!dispatcher.start()) {
      // No archive has been opened yet: the tasks go without running.
      dispatcher.releasePending([](Ostra::Task* task) { delete task; });
      platform::writeStdout("\n", 1);  // ends the progress line
      platform::flushStdout();
      static constexpr char kNoWorkers[] = "avdconv: cannot start the workers: out of memory\n";
      platform::writeStderr(kNoWorkers, sizeof kNoWorkers - 1);
      return done(1);
    }
    // The main thread works as the second worker until the last task ends
    // the run.
    dispatcher.wait();
    // The last outputs become durable, and their archives go, before the
    // run says it has finished.
    finisher.commitAll();
  }

  const bool interrupted = platform::interruptSignal() != 0;
  if (interrupted) {
    // The progress line ends here; the run did not finish.
    platform::writeStdout("\n", 1);
    platform::flushStdout();
  } else {
    writeClosingLine(total > 0);
  }
  // An output name another run took right after this run's rename is that
  // run's conversion of the same archive, as a rule: that run removes the
  // archive at once, and a moment's wait tells.
  for (int wait = 0; runReport.settleWithOtherRuns(convertedElsewhere) != 0 && wait < kOtherRunWaits; ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  // Archives no task came to: the run was stopped, or there was no memory
  // to take them off the list.
  const int status = report(runReport, !locator.path().empty(), &archives,
                            interrupted ? ConversionOutcome::Reason::NotStarted : ConversionOutcome::Reason::OutOfMemory);
  if (!interrupted) return done(status);
  platform::interruptHandled();
  return done(platform::interruptExitStatus());
}
