#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "app/archive_facts.h"
#include "commit/conversion_outcome.h"
#include "ostra/lock.h"
#include "platform/files.h"
#include "xtd/dstring.h"

// The report file of --report: one JSON line per archive, written whole as
// soon as the archive's outcome is final (a run that is cut short keeps the
// lines it had), then a summary line. From any thread.
class ReportFile {
 public:
  ReportFile() = default;
  ~ReportFile() { file_.close(); }
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  // Creates the file anew under a temporary name beside `path` and gives it
  // that name at once, replacing what was there, a link included. False
  // with the reason in platform::lastFileError().
  bool create(xtd::wstrview path);
  // The file written: no archive, wherever it lies.
  const platform::FileIdentity& identity() const { return identity_; }

  // The facts of an archive whose outcome comes later. Throws
  // std::bad_alloc.
  void expect(xtd::wstrview archive, ArchiveFacts facts);
  // Writes the archive's line with the facts expected for it, if any.
  void record(xtd::wstrview archive, const ConversionOutcome& outcome) noexcept;
  // Writes the summary and flushes the file to stable storage. A line
  // that failed, here or before, makes this false, with `failure()`.
  bool finish(std::uint64_t converted, std::uint64_t kept, std::uint64_t skipped, int status) noexcept;
  // "avdconv: ...\n" for standard error once a write has failed.
  std::string failure() const;

 private:
  // Lock held.
  void writeLine(const std::string& line);

  xtd::dwstring path_;
  platform::ScopedFile file_;
  platform::FileIdentity identity_;
  Ostra::Lock lock_{"ReportFile"};
  std::map<std::u16string, ArchiveFacts> expected_;
  bool failed_ = false;
  platform::SystemError error_;
};
