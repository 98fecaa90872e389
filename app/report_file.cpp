#include "app/report_file.h"

#include <new>

#include "app/printable_name.h"
#include "app/report_lines.h"
#include "commit/temporary_name.h"
#include "platform/replacing_file.h"

namespace {

std::u16string key(xtd::wstrview archive) { return std::u16string(archive.data, archive.length); }

}  // namespace

bool ReportFile::create(xtd::wstrview path) {
  path_.assign(path);
  xtd::dwstring temporary = temporaryPathFor(path);
  file_ = platform::ScopedFile(platform::createReplacing(temporary.c_str(), path_.c_str()));
  platform::FileStatus status;
  if (!file_ || !platform::files().status(file_.get(), status)) return false;
  identity_ = status.identity;
  // The scan compares with what a look-up by name gives: Wine tells no
  // volume through a handle whose file was renamed while it was open.
  platform::FileStatus named;
  if (platform::files().pathStatus(path_.c_str(), named) && named.identity.index == identity_.index) {
    identity_ = named.identity;
  }
  return true;
}

void ReportFile::expect(xtd::wstrview archive, ArchiveFacts facts) {
  std::u16string name = key(archive);
  Ostra::LockGuard guard(lock_);
  expected_.insert_or_assign(std::move(name), std::move(facts));
}

void ReportFile::record(xtd::wstrview archive, const ConversionOutcome& outcome) noexcept {
  try {
    Ostra::LockGuard guard(lock_);
    const auto facts = expected_.find(key(archive));
    const ArchiveFacts* known = facts == expected_.end() ? nullptr : &facts->second;
    writeLine(archiveLine(archive, outcome, known));
    if (known) expected_.erase(facts);
  } catch (const std::bad_alloc&) {
    failed_ = true;
    error_ = platform::simulatedError(platform::SystemError::Kind::OutOfMemory);
  }
}

void ReportFile::writeLine(const std::string& line) {
  if (failed_) return;
  // One write for the whole line: a line is in the file whole or not at all.
  if (!platform::files().write(file_.get(), line.data(), static_cast<std::uint32_t>(line.size()))) {
    failed_ = true;
    error_ = platform::lastFileError();
  }
}

bool ReportFile::finish(std::uint64_t converted, std::uint64_t kept, std::uint64_t skipped, int status) noexcept {
  try {
    Ostra::LockGuard guard(lock_);
    writeLine(summaryLine(converted, kept, skipped, status));
    if (!failed_ && !platform::files().flushToDisk(file_.get())) {
      failed_ = true;
      error_ = platform::lastFileError();
    }
  } catch (const std::bad_alloc&) {
    failed_ = true;
    error_ = platform::simulatedError(platform::SystemError::Kind::OutOfMemory);
  }
  return !failed_;
}

std::string ReportFile::failure() const {
  std::string text = "avdconv: the report " + printableName(path_.view()) + " is incomplete: ";
  if (error_.call) text = text + error_.call + ": ";
  return text + platform::describe(error_) + "\n";
}
