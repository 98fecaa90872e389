#include "commit/archive_removal.h"

#include <atomic>

namespace {
// Read by every worker; set by a test before the run.
std::atomic<std::int64_t> g_quietSeconds{ArchiveRemoval::kQuietSeconds};
}

void setQuietSecondsForTesting(std::int64_t seconds) {
  g_quietSeconds.store(seconds < 0 ? ArchiveRemoval::kQuietSeconds : seconds, std::memory_order_relaxed);
}

bool quietSince(std::int64_t modified, std::int64_t now) {
  return now - modified >= g_quietSeconds.load(std::memory_order_relaxed) * platform::kFileTimeUnitsPerSecond;
}

platform::RemoveResult ArchiveRemoval::judge(const platform::RemovalFacts& facts) const {
  using platform::RemoveResult;
  if (facts.writerSeen) return RemoveResult::InUse;
  if (!platform::sameContent(facts.now, read_)) {
    // The same file, only longer: someone is appending to it.
    const bool grew = facts.now.identity == read_.identity && facts.now.size > read_.size;
    return grew ? RemoveResult::InUse : RemoveResult::Changed;
  }
  if (!facts.writersVisible && !quietSince(facts.now.modified, facts.time)) {
    modifiedAgo_ = (facts.time - facts.now.modified) / platform::kFileTimeUnitsPerSecond;
    return RemoveResult::Recent;
  }
  return RemoveResult::Removed;
}
