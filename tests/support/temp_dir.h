#pragma once

#include <filesystem>
#include <string>

#include "xtd/dstring.h"

namespace avdtest {

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

 private:
  std::filesystem::path path_;
};

// File helpers for tests; they fail the test (throw) when the I/O fails.
void writeFile(const std::filesystem::path& file, const std::string& bytes);
void appendFile(const std::filesystem::path& file, const std::string& bytes);
std::string readFile(const std::filesystem::path& file);

// The path as the program's own wide string.
xtd::dwstring widePath(const std::filesystem::path& path);

}  // namespace avdtest
