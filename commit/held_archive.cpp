#include "commit/held_archive.h"

#include <cstddef>
#include <map>

#include "ostra/lock.h"

namespace {

Ostra::Lock g_lock{"HeldArchives"};
// A count per file, so that no release can forget another's hold.
std::map<platform::FileIdentity, int> g_held;
std::uint64_t g_changes = 0;
// The last files let go of, each with the count of changes at its release.
struct Release {
  platform::FileIdentity file;
  std::uint64_t change = 0;
};
constexpr std::size_t kReleasesKept = 256;
Release g_releases[kReleasesKept];

}  // namespace

void HeldArchive::hold() {
  ++g_held[file_];
  ++g_changes;
  held_ = true;
}

HeldArchive::Claim HeldArchive::claim(platform::FileHandle file, const platform::FileIdentity& identity) {
  reset();
  Ostra::LockGuard guard(g_lock);
  const bool heldHere = g_held.count(identity) != 0;
  switch (platform::files().tryLock(file)) {
    case platform::LockResult::Locked:
      if (heldHere) return Claim::HeldByThisRun;
      file_ = identity;
      hold();
      return Claim::Taken;
    case platform::LockResult::Busy:
      return heldHere ? Claim::HeldByThisRun : Claim::HeldByAnotherRun;
    case platform::LockResult::Failed:
      break;
  }
  return Claim::Failed;
}

void HeldArchive::reset() {
  if (!held_) return;
  held_ = false;
  Ostra::LockGuard guard(g_lock);
  ++g_changes;
  g_releases[g_changes % kReleasesKept] = Release{file_, g_changes};
  const auto it = g_held.find(file_);
  if (it != g_held.end() && --it->second == 0) g_held.erase(it);
}

std::uint64_t HeldArchive::changes() {
  Ostra::LockGuard guard(g_lock);
  return g_changes;
}

bool HeldArchive::heldSince(const platform::FileIdentity& file, std::uint64_t since) {
  Ostra::LockGuard guard(g_lock);
  if (g_held.count(file) != 0) return true;
  // Releases older than those kept may have been this file's.
  if (g_changes - since >= kReleasesKept) return true;
  for (const Release& r : g_releases) {
    if (r.change > since && r.file == file) return true;
  }
  return false;
}
