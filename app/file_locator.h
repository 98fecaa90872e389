#pragma once

#include <optional>
#include <set>

#include "app/shard.h"
#include "commit/conversion_outcome.h"
#include "platform/directory.h"
#include "xtd/dstring.h"

class ArchiveList;
class RunReport;

// Walks a directory tree depth first and puts every file whose name ends
// in the extension on the list, in the order the system lists the entries,
// with the temporary outputs earlier runs may have left beside them. A
// directory it cannot read and an entry it cannot name go to the report.
class FileLocator {
 public:
  explicit FileLocator(ArchiveList* list = nullptr, RunReport* report = nullptr) : list_(list), report_(report) {}
  virtual ~FileLocator() = default;
  FileLocator(const FileLocator&) = delete;
  FileLocator& operator=(const FileLocator&) = delete;

  void setPath(xtd::wstrview dir) { path_.assign(dir); }
  // Listing leaves the directories' access times as they are, where the
  // system allows.
  void keepAccessTimes(bool keep) { keepAccessTimes_ = keep; }
  const xtd::dwstring& path() const { return path_; }
  int count() const { return count_; }

  // Only the archives of `shard` go on the list.
  void setShard(const Shard& shard) { shard_ = shard; }
  // The file with this identity is no archive (the report file).
  void exclude(const platform::FileIdentity& identity) { excluded_ = identity; }

  // Scans the locator's path for files ending in `ext`.
  void findFiles(xtd::wstrview ext);
  // Walks `dir` and everything below it.
  void scan(xtd::wstrview dir);

 protected:
  // Called for each match with a view valid only during the call.
  virtual void found(xtd::wstrview path);
  // Called for what the walk leaves out: a directory it cannot read, an
  // archive or directory whose name it cannot represent.
  virtual void skipped(xtd::wstrview path, const ConversionOutcome& why);

 private:
  void unreadable(xtd::wstrview dir, const platform::SystemError& error);
  // Whether the archive at `path` is this run's to convert.
  bool takes(xtd::wstrview path) const;

  xtd::dwstring path_;
  xtd::dwstring ext_;
  int count_ = 0;
  bool keepAccessTimes_ = false;
  ArchiveList* list_;
  RunReport* report_;
  Shard shard_;
  std::optional<platform::FileIdentity> excluded_;
  // The length of the locator's path with its separator: what precedes
  // the path a shard is chosen by.
  std::uint32_t rootLength_ = 0;
  // Directories already walked: a link or junction back into the tree must
  // not make the walk endless or find an archive twice.
  std::set<platform::FileIdentity> visited_;
};
