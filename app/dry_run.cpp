#include "app/dry_run.h"

#include <string>

#include "app/archive_list.h"
#include "app/file_convert_task.h"
#include "app/printable_name.h"
#include "app/run_report.h"
#include "archive/avd_reader.h"
#include "platform/interrupts.h"
#include "platform/program.h"

namespace {

std::string lineFor(xtd::wstrview path, const ArchiveSurvey& found) {
  const ConversionOutcome& o = found.outcome;
  std::string line = printableName(path);
  if (found.alreadyConverted) {
    line += ": already converted";
  } else if (o.reason == ConversionOutcome::Reason::Converted) {
    const char* between = " -> ";
    for (const PlannedOutput& output : found.outputs) {
      line += between + printableName(output.path.view());
      between = ", ";
    }
  } else {
    line += o.skipped() ? ": skipped: " : ": kept: ";
    line += describeOutcome(o, path);
  }
  return line + "\n";
}

}  // namespace

int dryRun(ArchiveList& archives, const Options& options) {
  int status = 0;
  AvdReader reader;
  ArchiveList::Taken taken;
  // One at a time, in the order found: the lines come in that order.
  while (platform::interruptSignal() == 0 && archives.take(taken)) {
    const ArchiveSurvey found = surveyArchive(taken.path.view(), reader, options);
    // An archive the stop cut short is told by nobody: nothing was done.
    if (platform::interruptSignal() != 0) break;
    const std::string line = lineFor(taken.path.view(), found);
    platform::writeStdout(line.data(), line.size());
    if (found.outcome.failed()) status = 1;
  }
  platform::flushStdout();
  return status;
}
