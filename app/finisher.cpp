#include "app/finisher.h"

#include "platform/files.h"
#include "platform/paths.h"

namespace {

using Reason = ConversionOutcome::Reason;

// The directory part of an archive's path: what its batch shares.
xtd::wstrview directoryOf(const xtd::dwstring& path) {
  std::uint32_t cut = path.length();
  while (cut > 0 && path[cut - 1] != platform::kPathSeparator) --cut;
  return xtd::wstrview(path.data(), cut);
}

ConversionOutcome removed(platform::RemoveResult result) {
  switch (result) {
    case platform::RemoveResult::Removed:
      return ConversionOutcome::because(Reason::Converted);
    case platform::RemoveResult::Changed:
      return ConversionOutcome::because(Reason::Changed);
    case platform::RemoveResult::InUse:
      return ConversionOutcome::because(Reason::BeingWritten);
    case platform::RemoveResult::Failed:
      break;
  }
  return ConversionOutcome::because(Reason::CannotDelete, platform::lastFileError());
}

}  // namespace

Finisher::Finisher(Record record, std::uint32_t batchLimit)
    : record_(std::move(record)), batchLimit_(batchLimit == 0 ? 1 : batchLimit) {
  open_.reserve(batchLimit_);
}

Finisher::~Finisher() { commitAll(); }

std::vector<CompletedConversion> Finisher::closeBatch() {
  std::vector<CompletedConversion> batch;
  batch.swap(open_);
  return batch;
}

void Finisher::take(CompletedConversion conversion) {
  std::vector<CompletedConversion> earlier;
  std::vector<CompletedConversion> ready;
  if (conversion.outcome.size >= kLargeArchive) {
    ready.push_back(std::move(conversion));
  } else {
    Ostra::LockGuard guard(lock_);
    const Ostra::Tick now = Ostra::currentTick();
    const xtd::wstrview directory = directoryOf(conversion.archive.path());
    // Another directory, or a batch left waiting too long, goes first.
    if (!open_.empty() &&
        (!xtd::equals(directory, directory_.view()) || Ostra::tickDiff(now, started_) > kBatchTicks)) {
      earlier = closeBatch();
    }
    if (open_.empty()) {
      open_.reserve(batchLimit_);
      directory_.assign(directory);
      started_ = now;
    }
    open_.push_back(std::move(conversion));
    if (open_.size() >= batchLimit_) ready = closeBatch();
  }
  commitConversions(earlier, record_);
  commitConversions(ready, record_);
}

void Finisher::commitAll() {
  std::vector<CompletedConversion> batch;
  {
    Ostra::LockGuard guard(lock_);
    batch = closeBatch();
  }
  commitConversions(batch, record_);
}

void commitConversions(std::vector<CompletedConversion>& batch, const CompletionSink::Record& record) {
  if (batch.empty()) return;
  platform::FileApi& fs = platform::files();
  // Each output durable under its final name; the disk writes them all at
  // once first, so that each flush finds its work done.
  if (batch.size() > 1) fs.flushFileSystemOf(batch.front().archive.handle());
  const CompletedConversion* anyCommitted = nullptr;
  for (CompletedConversion& c : batch) {
    c.committed = c.writer->commit();
    if (!c.committed) {
      c.outcome = ConversionOutcome::because(Reason::OutputFailed, c.writer->failure().error);
    } else if (!anyCommitted) {
      anyCommitted = &c;
    }
  }
  // One sync of the directory makes every new name durable; only then may
  // an archive go.
  if (anyCommitted && !fs.syncParentDirectory(anyCommitted->writer->outputPath())) {
    const platform::SystemError error = platform::lastFileError();
    for (CompletedConversion& c : batch) {
      if (c.committed) c.outcome = ConversionOutcome::because(Reason::OutputFailed, error);
      c.committed = false;
    }
  }
  for (CompletedConversion& c : batch) {
    if (c.committed && c.outcome.reason == Reason::Converted) {
      c.outcome = removed(c.archive.remove());
    } else {
      c.archive.release();
    }
    record(c.archive.path().view(), c.outcome);
  }
  batch.clear();
}
