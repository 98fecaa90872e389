#pragma once

#include <set>

#include "platform/directory.h"
#include "xtd/dstring.h"

namespace Ostra {
class TaskDispatcher;
}

// Walks a directory tree depth first and hands on every file whose name
// ends in the extension, in the order the system lists the entries.
class FileLocator {
 public:
  explicit FileLocator(Ostra::TaskDispatcher* dispatcher = nullptr) : dispatcher_(dispatcher) {}
  virtual ~FileLocator() = default;
  FileLocator(const FileLocator&) = delete;
  FileLocator& operator=(const FileLocator&) = delete;

  void setPath(xtd::wstrview dir) { path_.assign(dir); }
  const xtd::dwstring& path() const { return path_; }
  int count() const { return count_; }

  // Scans the locator's path for files ending in `ext`.
  void findFiles(xtd::wstrview ext);
  // Walks `dir` and everything below it.
  void scan(xtd::wstrview dir);

 protected:
  // Called for each match with a view valid only during the call.
  virtual void found(xtd::wstrview path);

 private:
  xtd::dwstring path_;
  xtd::dwstring ext_;
  int count_ = 0;
  Ostra::TaskDispatcher* dispatcher_;
  // Directories already walked: a link or junction back into the tree must
  // not make the walk endless or find an archive twice.
  std::set<platform::FileIdentity> visited_;
};
