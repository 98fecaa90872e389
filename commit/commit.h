#pragma once

// The commit: how a complete conversion replaces its archive. Everything
// that keeps a recording safe between the last byte written and the
// archive's deletion happens here, in this order:
//
// 1. Each output is written under a temporary name of this run's own, beside
//    its final name, created new and never through a link
//    (StagedFile::create, temporary_name.h).
// 2. An output is flushed to stable storage before its rename: by its own
//    flush, or by one sync of its file system that the system vouches for
//    (StagedFile::commit, commitConversions).
// 3. After the rename the name is synced where the system keeps names with
//    their files, and must mean the very file written; otherwise the archive
//    stays (StagedFile::commit).
// 4. One sync of the directory comes before any archive of the batch is
//    removed; an archive whose output names could not be made durable stays
//    (commitConversions).
// 5. An archive is removed only while its name means the file read,
//    unchanged, with no writer seen, or, where writers cannot be seen, after
//    a quiet period (ArchiveHold::remove, ArchiveRemoval); not at all when
//    the run keeps its archives (CompletedConversion::keepArchive).
// 6. The temporary files go before the archive's lock is released: no other
//    run may take the archive while this run's files are still there
//    (~CompletedConversion).
// 7. Every archive is told once: the record gets one outcome per
//    conversion, whatever fails, without memory of its own
//    (commitConversions).

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "commit/archive_hold.h"
#include "commit/conversion_outcome.h"
#include "commit/staged_file.h"
#include "xtd/strview.h"

// A conversion whose outputs are complete and sealed, waiting to be made
// durable under their final names before its archive may go.
struct CompletedConversion {
  ArchiveHold archive;
  // In the order they are committed; at least one.
  std::vector<std::unique_ptr<StagedFile>> outputs;
  // Converted, or why the archive stays although its output is written.
  ConversionOutcome outcome;
  bool committed = false;
  // The archive stays as it is once its outputs are committed.
  bool keepArchive = false;

  CompletedConversion(ArchiveHold a, std::vector<std::unique_ptr<StagedFile>> o, const ConversionOutcome& why)
      : archive(std::move(a)), outputs(std::move(o)), outcome(why) {}
  CompletedConversion(CompletedConversion&&) noexcept = default;
  CompletedConversion& operator=(CompletedConversion&&) noexcept = default;
  // The temporary files go before the archive and its lock.
  ~CompletedConversion() {
    outputs.clear();
    archive.release();
  }
};

// Where completed conversions go to be committed.
class CompletionSink {
 public:
  // The outcome of a conversion that has been committed (or failed to be).
  // It must not throw: the outcome of every archive is told once.
  using Record = std::function<void(xtd::wstrview archive, const ConversionOutcome& outcome)>;

  virtual void take(CompletedConversion conversion) = 0;

 protected:
  ~CompletionSink() = default;
};

// Commits `count` completed conversions of one directory, steps 2 to 7
// above, and records each one's outcome.
void commitConversions(CompletedConversion* batch, std::size_t count, const CompletionSink::Record& record);
