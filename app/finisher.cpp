#include "app/finisher.h"

#include <new>

#include "platform/files.h"
#include "platform/interrupts.h"
#include "platform/paths.h"

namespace {

using Reason = ConversionOutcome::Reason;
using Subject = ConversionOutcome::Subject;

// The directory part of an archive's path: what its batch shares.
xtd::wstrview directoryOf(const xtd::dwstring& path) {
  std::uint32_t cut = path.length();
  while (cut > 0 && path[cut - 1] != platform::kPathSeparator) --cut;
  return xtd::wstrview(path.data(), cut);
}

ConversionOutcome about(ConversionOutcome o, Subject subject, const platform::SystemError& error) {
  o.subject = subject;
  o.error = error;
  return o;
}

// What the commit of a writer left, as the outcome to tell.
ConversionOutcome afterCommit(CommitResult result, const WriterIf& writer, ConversionOutcome outcome) {
  const WriteFailure& f = writer.failure();
  const Subject subject = f.subject == WriteFailure::Subject::Output ? Subject::Output : Subject::Temporary;
  switch (result) {
    case CommitResult::Committed:
      return outcome;
    case CommitResult::Failed:
      outcome.reason = Reason::OutputFailed;
      break;
    case CommitResult::Unconfirmed:
      outcome.reason = Reason::NotDurable;
      break;
    case CommitResult::Displaced:
      outcome.reason = Reason::Displaced;
      break;
  }
  return about(outcome, subject, f.error);
}

ConversionOutcome afterRemoval(const ArchiveHold::Removal& removal, const WriterIf& writer, ConversionOutcome outcome) {
  switch (removal.result) {
    case platform::RemoveResult::Removed:
    case platform::RemoveResult::Gone:
      // Gone: another run converted it meanwhile, or someone removed it;
      // either way its output is in place and the archive is not.
      if (writer.metadataFailure().kind == WriteFailure::Kind::None) return outcome;
      outcome.reason = Reason::MetadataNotSet;
      return about(outcome, Subject::Temporary, writer.metadataFailure().error);
    case platform::RemoveResult::Changed:
      outcome.reason = Reason::Changed;
      return outcome;
    case platform::RemoveResult::InUse:
      outcome.reason = Reason::BeingWritten;
      return outcome;
    case platform::RemoveResult::Recent:
      outcome.reason = Reason::RecentlyWritten;
      outcome.number = static_cast<std::uint32_t>(removal.modifiedAgo < 0 ? 0 : removal.modifiedAgo);
      return outcome;
    case platform::RemoveResult::Failed:
      break;
  }
  outcome.reason = Reason::CannotDelete;
  return about(outcome, Subject::Archive, platform::lastFileError());
}

ConversionOutcome outOfMemory(ConversionOutcome o) {
  o.reason = Reason::OutOfMemory;
  o.error = platform::SystemError{};
  return o;
}

}  // namespace

void commitConversions(CompletedConversion* batch, std::size_t count, const CompletionSink::Record& record) {
  if (count == 0) return;
  platform::FileApi& fs = platform::files();
  // Each output durable under its final name: with one sync of the file
  // system where the system vouches for it, through the handle opened
  // before any output of the batch was created, so that it answers for all
  // their writes; else each output is flushed on its own.
  bool durable = false;
  if (count > 1 && platform::interruptSignal() == 0) {
    const CompletedConversion* first = batch;
    bool oneVolume = true;
    for (std::size_t i = 0; i < count; ++i) {
      if (batch[i].archive.openOrder() < first->archive.openOrder()) first = &batch[i];
      oneVolume = oneVolume && batch[i].writer->outputIdentity().volume == batch[0].writer->outputIdentity().volume;
    }
    oneVolume = oneVolume && first->archive.status().identity.volume == batch[0].writer->outputIdentity().volume;
    try {
      durable = oneVolume && fs.flushFileSystemOf(first->archive.handle());
    } catch (const std::bad_alloc&) {
      // Each output is flushed on its own.
    }
  }
  const CompletedConversion* anyCommitted = nullptr;
  for (std::size_t i = 0; i < count; ++i) {
    CompletedConversion& c = batch[i];
    c.outcome.extension = c.writer->outputExtension();
    // Asked to stop: no commit begins; one past its rename goes on to its end.
    if (platform::interruptSignal() != 0) {
      c.outcome.reason = Reason::Interrupted;
      continue;
    }
    try {
      const CommitResult result = c.writer->commit(durable);
      c.committed = result == CommitResult::Committed;
      c.outcome = afterCommit(result, *c.writer, c.outcome);
    } catch (const std::bad_alloc&) {
      c.outcome = outOfMemory(c.outcome);
    }
    if (c.committed && !anyCommitted) anyCommitted = &c;
  }
  // One sync of the directory makes every new name durable; only then may
  // an archive go. A file system that cannot sync a directory has made the
  // names as durable as it can with the files' own flushes.
  if (anyCommitted) {
    platform::SyncResult synced = platform::SyncResult::Failed;
    try {
      synced = fs.syncParentDirectory(anyCommitted->writer->outputPath());
    } catch (const std::bad_alloc&) {
      platform::setLastFileError(platform::simulatedError(platform::SystemError::Kind::OutOfMemory));
    }
    if (synced == platform::SyncResult::Failed) {
      // The outputs are in place: what is not sure is that they stay.
      const platform::SystemError error = platform::lastFileError();
      for (std::size_t i = 0; i < count; ++i) {
        CompletedConversion& c = batch[i];
        if (!c.committed) continue;
        c.committed = false;
        ConversionOutcome o = c.outcome;
        o.reason = Reason::NotDurable;
        c.outcome = about(o, Subject::Directory, error);
      }
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    CompletedConversion& c = batch[i];
    if (c.committed && c.outcome.reason == Reason::Converted) {
      try {
        c.outcome = afterRemoval(c.archive.remove(), *c.writer, c.outcome);
      } catch (const std::bad_alloc&) {
        c.outcome = outOfMemory(c.outcome);
      }
    }
    // The temporary file, if one is left, goes before the archive's lock.
    c.writer.reset();
    c.archive.release();
    record(c.archive.path().view(), c.outcome);
  }
}

Finisher::Finisher(Record record, std::uint32_t batchLimit)
    : record_(std::move(record)), batchLimit_(batchLimit == 0 ? 1 : batchLimit) {
  open_.reserve(batchLimit_);
}

Finisher::~Finisher() { commitAll(); }

std::vector<CompletedConversion> Finisher::closeBatch() {
  std::vector<CompletedConversion> batch;
  batch.reserve(batchLimit_);
  batch.swap(open_);
  return batch;
}

void Finisher::take(CompletedConversion conversion) {
  std::vector<CompletedConversion> earlier;
  std::vector<CompletedConversion> ready;
  bool taken = false;
  if (conversion.outcome.size < kLargeArchive) {
    try {
      Ostra::LockGuard guard(lock_);
      const Ostra::Tick now = Ostra::currentTick();
      const xtd::wstrview directory = directoryOf(conversion.archive.path());
      // Another directory, or a batch left waiting too long, goes first.
      if (!open_.empty() &&
          (!xtd::equals(directory, directory_.view()) || Ostra::tickDiff(now, started_) > kBatchTicks)) {
        earlier = closeBatch();
      }
      if (open_.empty()) {
        directory_.assign(directory);
        started_ = now;
      }
      // The room was made when the batch before was handed over.
      open_.push_back(std::move(conversion));
      taken = true;
      if (open_.size() >= batchLimit_) ready = closeBatch();
    } catch (const std::bad_alloc&) {
      // No room for a batch: what is not in one is committed alone.
    }
  }
  if (!taken) commitConversions(&conversion, 1, record_);
  commitConversions(earlier.data(), earlier.size(), record_);
  commitConversions(ready.data(), ready.size(), record_);
}

void Finisher::commitAll() {
  std::vector<CompletedConversion> batch;
  {
    Ostra::LockGuard guard(lock_);
    batch.swap(open_);
  }
  commitConversions(batch.data(), batch.size(), record_);
  batch.clear();
  Ostra::LockGuard guard(lock_);
  // Room for the next batch, when there is memory for it; without, the
  // next conversion is committed alone.
  if (open_.capacity() < batchLimit_ && batch.capacity() >= batchLimit_) open_.swap(batch);
}
