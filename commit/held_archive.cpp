#include "commit/held_archive.h"

#include <map>

#include "ostra/lock.h"

namespace {

Ostra::Lock g_lock{"HeldArchives"};
// A count per file: two names of one file are never held at once, but a
// name let go and taken again may overlap its own bookkeeping.
std::map<platform::FileIdentity, int> g_held;

}  // namespace

HeldArchive::HeldArchive(const platform::FileIdentity& file) : file_(file) {
  Ostra::LockGuard guard(g_lock);
  ++g_held[file];
  held_ = true;
}

void HeldArchive::reset() {
  if (!held_) return;
  held_ = false;
  Ostra::LockGuard guard(g_lock);
  const auto it = g_held.find(file_);
  if (it != g_held.end() && --it->second == 0) g_held.erase(it);
}

bool HeldArchive::heldByThisRun(const platform::FileIdentity& file) {
  Ostra::LockGuard guard(g_lock);
  return g_held.count(file) != 0;
}
