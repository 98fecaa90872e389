#include "app/file_convert_task.h"

#include <memory>

#include "app/progress.h"
#include "archive/avd_reader.h"
#include "ostra/task_dispatcher.h"
#include "writers/create_writer.h"

namespace {

ConversionOutcome convert(xtd::wstrview path, AvdReader& reader) {
  ConversionOutcome outcome = ConversionOutcome::Converted;
  xtd::strview header;
  bool headerOk = false;
  if (!reader.openArchive(path)) {
    outcome = ConversionOutcome::CannotOpen;
  } else {
    const AvdRecordHeader* first = reader.readRecord(header);
    headerOk = first && first->type == AvdRecordHeader::kStreamHeader;
    if (!headerOk) {
      header = xtd::strview();
      outcome = ConversionOutcome::NoStreamHeader;
    }
  }
  const std::unique_ptr<WriterIf> writer(createWriter(path, &header));
  if (!writer && outcome == ConversionOutcome::Converted) outcome = ConversionOutcome::NoWriter;

  if (headerOk && writer) {
    // A writer whose open failed refuses the first frame, which ends the loop.
    writer->open(&header);
    xtd::strview frame;
    std::uint32_t ticks = 0;
    for (int kind; (kind = reader.nextFrame(frame, &ticks)) != -1;) {
      if (!writer->writeFrame(&frame, &ticks, kind)) {
        outcome = ConversionOutcome::WriterRefused;
        break;
      }
    }
  }
  // Closed before the finish: the archive is open without delete sharing.
  reader.closeArchive();
  if (outcome == ConversionOutcome::Converted) writer->finish();
  return outcome;
}

}  // namespace

ConversionOutcome convertArchive(xtd::wstrview path, AvdReader& reader) {
  try {
    return convert(path, reader);
  } catch (...) {
    // Out of memory, say: this archive stays, the others go on.
    reader.closeArchive();
    return ConversionOutcome::Failed;
  }
}

ConversionOutcome convertArchive(xtd::wstrview path) {
  try {
    AvdReader reader;
    return convertArchive(path, reader);
  } catch (...) {
    return ConversionOutcome::Failed;
  }
}

void FileConvertTask::run(Ostra::TaskContext& context, Ostra::Tick /*now*/) {
  convertArchive(path_.view());
  progress().archiveFinished();
  context.dispatcher->settle(context, this);
  delete this;
}
