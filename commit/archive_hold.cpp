#include "commit/archive_hold.h"

#include "commit/archive_removal.h"

ArchiveHold::Removal ArchiveHold::remove() {
  Removal removal;
  if (!file_) return removal;
  const ArchiveRemoval policy(status_);
  // The removal closes the file, and with it the lock.
  removal.result = platform::files().removeIfUnchanged(path_.data(), std::move(file_), policy);
  if (removal.result == platform::RemoveResult::Failed) removal.error = platform::lastFileError();
  held_.reset();
  if (removal.result == platform::RemoveResult::Recent) removal.modifiedAgo = policy.modifiedAgo();
  return removal;
}
