#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "commit/commit.h"
#include "ostra/lock.h"
#include "ostra/tick_time.h"
#include "xtd/dstring.h"

// Commits completed conversions in batches of one directory: flushes each
// output to stable storage and gives it its final name, makes the names
// durable with one sync of the directory, and only then deletes the
// archives. Conversions that end close together in one directory share the
// work of the disk instead of each waiting for it alone; a run stopped at
// any point has deleted no archive whose output is not durable under its
// final name. A batch is committed by the worker whose conversion closes it,
// while the other goes on converting. (A thread of its own for the commits
// measured slower: the workers then lose a core to it.)
class Finisher final : public CompletionSink {
 public:
  static constexpr std::uint32_t kBatchLimit = 32;
  // A batch waits no longer than this (in ticks) for company.
  static constexpr std::int32_t kBatchTicks = 100;
  // An archive this large is a batch of its own: its flush and its delete
  // cost the disk the same alone, and nothing should wait for them.
  static constexpr std::uint64_t kLargeArchive = 16 * 1024 * 1024;

  // Throws std::bad_alloc without memory for the first batch.
  explicit Finisher(Record record, std::uint32_t batchLimit = kBatchLimit);
  // Commits what is still pending.
  ~Finisher();
  Finisher(const Finisher&) = delete;
  Finisher& operator=(const Finisher&) = delete;

  // Takes a completed conversion, from any thread; the outcome goes to the
  // record once the batch it joins is committed, on the thread that
  // commits it. Without memory for a batch the conversion is committed
  // alone at once.
  void take(CompletedConversion conversion) override;
  // Commits every pending batch.
  void commitAll();

 private:
  // Lock held: hands the open batch over for committing, leaving room for
  // the next one; throws std::bad_alloc, with nothing handed over, when
  // there is no memory for that room.
  std::vector<CompletedConversion> closeBatch();

  Record record_;
  const std::uint32_t batchLimit_;
  Ostra::Lock lock_{"Finisher"};
  std::vector<CompletedConversion> open_;
  xtd::dwstring directory_;
  Ostra::Tick started_ = 0;
};
