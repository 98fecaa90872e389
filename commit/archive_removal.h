#pragma once

#include <cstdint>

#include "platform/files.h"

// Whether an archive that was read to its end may be removed now: its name
// must still mean that file, unchanged, and nobody may be writing it. Where
// the system cannot see every writer (another owner's file, a network or
// FUSE file system), only time tells a stopped recorder from a quiet one:
// the archive must have been left alone for a quiet period.
class ArchiveRemoval final : public platform::RemovalPolicy {
 public:
  // A recorder that writes nothing for this long has stopped.
  static constexpr std::int64_t kQuietSeconds = 60;

  explicit ArchiveRemoval(const platform::FileStatus& read) : read_(read) {}

  platform::RemoveResult judge(const platform::RemovalFacts& facts) const override;

  // After a Recent verdict: how many whole seconds ago the archive was
  // last written.
  std::int64_t modifiedAgo() const { return modifiedAgo_; }

 private:
  platform::FileStatus read_;
  mutable std::int64_t modifiedAgo_ = 0;
};

// Whether a file last written at `modified` has been left alone for the
// quiet period at `now` (both in the units of FileStatus::modified); one
// written in the future, by a clock ahead of ours, has not.
bool quietSince(std::int64_t modified, std::int64_t now);

// Test seam: a quiet period of another length (in seconds), for tests that
// cannot wait a minute for what a killed run left; negative restores it.
void setQuietSecondsForTesting(std::int64_t seconds);
