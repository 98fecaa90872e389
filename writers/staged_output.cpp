#include "writers/staged_output.h"

StagedOutput::StagedOutput(xtd::wstrview finalPath) : final_(finalPath) {
  temporary_.reserve(final_.length() + 16);
  temporary_.assign(final_.view());
  temporary_.append(xtd::wstrview::literal(kTemporarySuffix));
  // Terminated now: nothing on the failure paths allocates.
  final_.c_str();
  temporary_.c_str();
}

StagedOutput::~StagedOutput() { discard(); }

bool StagedOutput::prepare() {
  platform::FileStatus existing;
  if (!platform::files().pathStatus(final_.c_str(), existing) || existing.kind != platform::FileKind::Directory) {
    pending_ = true;
    return true;
  }
  platform::setLastFileError(platform::simulatedError(platform::SystemError::Kind::IsDirectory));
  return false;
}

bool StagedOutput::removeLeftover() {
  if (platform::lastFileError().kind != platform::SystemError::Kind::Exists) return false;
  return platform::files().remove(temporary_.c_str());
}

bool StagedOutput::commit() {
  if (!platform::files().rename(temporary_.c_str(), final_.c_str())) return false;
  pending_ = false;
  return true;
}

void StagedOutput::discard() {
  if (!pending_) return;
  pending_ = false;
  // What made the conversion fail stays the error to report.
  const platform::SystemError reason = platform::lastFileError();
  platform::files().remove(temporary_.c_str());
  platform::setLastFileError(reason);
}
