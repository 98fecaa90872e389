#include "commit/commit.h"

#include <new>

#include "platform/files.h"
#include "platform/interrupts.h"

namespace {

using Reason = ConversionOutcome::Reason;
using Subject = ConversionOutcome::Subject;

ConversionOutcome about(ConversionOutcome o, Subject subject, const platform::SystemError& error) {
  o.subject = subject;
  o.error = error;
  return o;
}

// The failure of a call on an output's file, with the file it was about.
ConversionOutcome about(ConversionOutcome o, const WriteFailure& failure) {
  o.file = failure.file;
  return about(o, Subject::File, failure.error);
}

// What the commit of an output left, as the outcome to tell.
ConversionOutcome afterCommit(CommitResult result, const StagedFile& output, ConversionOutcome outcome) {
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
  outcome.extension = output.extension();
  return about(outcome, output.failure());
}

// The first output that lacks its archive's owner, permissions or times.
const StagedFile* lackingMetadata(const CompletedConversion& c) {
  for (const auto& output : c.outputs) {
    if (output->metadataFailure().kind != WriteFailure::Kind::None) return output.get();
  }
  return nullptr;
}

// A conversion whose outputs are in place, told with what they lack.
ConversionOutcome converted(const CompletedConversion& c, ConversionOutcome outcome) {
  if (const StagedFile* lacking = lackingMetadata(c)) {
    outcome.reason = Reason::MetadataNotSet;
    outcome.extension = lacking->extension();
    return about(outcome, lacking->metadataFailure());
  }
  return outcome;
}

ConversionOutcome afterRemoval(const ArchiveHold::Removal& removal, const CompletedConversion& c, ConversionOutcome outcome) {
  switch (removal.result) {
    case platform::RemoveResult::Removed:
    case platform::RemoveResult::Gone:
      // Gone: another run converted it meanwhile, or someone removed it;
      // either way its output is in place and the archive is not.
      return converted(c, outcome);
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
  return about(outcome, Subject::Archive, removal.error);
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
    const std::uint64_t volume = batch[0].archive.status().identity.volume;
    bool oneVolume = true;
    for (std::size_t i = 0; i < count; ++i) {
      if (batch[i].archive.openOrder() < first->archive.openOrder()) first = &batch[i];
      for (const auto& output : batch[i].outputs) oneVolume = oneVolume && output->identity().volume == volume;
    }
    oneVolume = oneVolume && first->archive.status().identity.volume == volume;
    try {
      durable = oneVolume && fs.flushFileSystemOf(first->archive.handle());
    } catch (const std::bad_alloc&) {
      // Each output is flushed on its own.
    }
  }
  const CompletedConversion* anyCommitted = nullptr;
  for (std::size_t i = 0; i < count; ++i) {
    CompletedConversion& c = batch[i];
    c.outcome.extension = c.outputs.front()->extension();
    // Asked to stop: no commit begins; one past its rename goes on to its end.
    if (platform::interruptSignal() != 0) {
      c.outcome.reason = Reason::Interrupted;
      continue;
    }
    try {
      // Every output of the conversion, or the archive stays.
      c.committed = true;
      for (const auto& output : c.outputs) {
        const CommitResult result = output->commit(durable);
        if (result == CommitResult::Committed) continue;
        c.committed = false;
        c.outcome = afterCommit(result, *output, c.outcome);
        break;
      }
    } catch (const std::bad_alloc&) {
      c.committed = false;
      c.outcome = outOfMemory(c.outcome);
    }
    if (c.committed && !anyCommitted) anyCommitted = &c;
  }
  // One sync of the directory makes every new name durable; only then may
  // an archive go. A file system that cannot sync a directory has made the
  // names as durable as it can with the files' own flushes.
  if (anyCommitted) {
    bool synced = false;
    platform::SystemError error;
    try {
      synced = fs.syncParentDirectory(anyCommitted->outputs.front()->finalPath()) != platform::SyncResult::Failed;
      if (!synced) error = platform::lastFileError();
    } catch (const std::bad_alloc&) {
      error = platform::simulatedError(platform::SystemError::Kind::OutOfMemory);
    }
    if (!synced) {
      // The outputs are in place: what is not sure is that they stay.
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
        if (c.keepArchive) {
          c.outcome.archiveKept = true;
          c.outcome = converted(c, c.outcome);
        } else {
          c.outcome = afterRemoval(c.archive.remove(), c, c.outcome);
        }
      } catch (const std::bad_alloc&) {
        c.outcome = outOfMemory(c.outcome);
      }
    }
    // The temporary files, if any are left, go before the archive's lock.
    c.outputs.clear();
    c.archive.release();
    record(c.archive.path().view(), c.outcome);
  }
}

