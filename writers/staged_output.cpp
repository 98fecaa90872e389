#include "writers/staged_output.h"

#include <new>

#include "writers/temporary_name.h"

StagedOutput::StagedOutput(xtd::wstrview finalPath) : final_(finalPath), temporary_(temporaryPathFor(finalPath)) {
  // Terminated now: nothing on the failure paths allocates.
  final_.c_str();
  temporary_.c_str();
}

StagedOutput::~StagedOutput() { discard(); }

CommitResult StagedOutput::commit(const platform::FileIdentity& written) {
  platform::FileApi& fs = platform::files();
  if (!fs.rename(temporary_.c_str(), final_.c_str())) {
    // A directory at the final name refuses the rename (with another error
    // on each system): it is looked for only then, not for every output.
    platform::FileStatus existing;
    const platform::SystemError refused = platform::lastFileError();
    const bool directory = fs.pathStatus(final_.c_str(), existing) && existing.kind == platform::FileKind::Directory;
    platform::setLastFileError(directory ? platform::simulatedError(platform::SystemError::Kind::IsDirectory) : refused);
    return CommitResult::Failed;
  }
  pending_ = false;
  if (fs.syncName(final_.c_str()) == platform::SyncResult::Failed) return CommitResult::Unconfirmed;
  // The rename went by name: had anything else taken the temporary name,
  // or the final one since, the archive must stay.
  platform::FileStatus landed;
  if (!fs.pathStatus(final_.c_str(), landed)) return CommitResult::Displaced;
  if (landed.identity == written) return CommitResult::Committed;
  platform::setLastFileError(platform::SystemError{});
  return CommitResult::Displaced;
}

void StagedOutput::discard() {
  if (!pending_) return;
  pending_ = false;
  // What made the conversion fail stays the error to report.
  const platform::SystemError reason = platform::lastFileError();
  try {
    platform::files().remove(temporary_.c_str());
  } catch (const std::bad_alloc&) {
    // Without memory to name it (Windows), the file stays for a later run.
  }
  platform::setLastFileError(reason);
}
