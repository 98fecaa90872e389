#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/directory.h"
#include "platform/posix/errors.h"
#include "platform/posix/path_codec.h"

namespace platform {

struct DirectoryListing::State {
  DIR* dir = nullptr;
  std::string path;  // the directory, ending in '/'
  std::u16string name;
  SystemError error;
};

DirectoryListing::DirectoryListing() : state_(new State) {}

DirectoryListing::~DirectoryListing() {
  if (state_->dir) ::closedir(state_->dir);
}

bool DirectoryListing::open(const char16_t* directory, std::uint32_t /*length*/, bool keepAccessTime) {
  if (state_->dir) ::closedir(state_->dir);
  state_->dir = nullptr;
  state_->error = SystemError{};
  const posix::NativePath path(directory);
  if (!path) return posix::fail("opendir", path.error());
  state_->path = path.c_str();
  state_->dir = ::opendir(path.c_str());
  if (!state_->dir) return posix::fail("opendir");
  // Before the first read; refused (and then without effect) for a directory
  // of another owner.
  if (keepAccessTime) {
    const int f = ::dirfd(state_->dir);
    const int flags = ::fcntl(f, F_GETFL);
    if (flags != -1) ::fcntl(f, F_SETFL, flags | O_NOATIME);
  }
  return true;
}

const SystemError& DirectoryListing::error() const { return state_->error; }

bool DirectoryListing::next(DirectoryEntry& entry) {
  if (!state_->dir) return false;
  errno = 0;
  while (const dirent* d = ::readdir(state_->dir)) {
    const std::size_t size = std::strlen(d->d_name);
    posix::fromNative(d->d_name, size, state_->name);
    bool isDirectory = d->d_type == DT_DIR;
    if (d->d_type == DT_LNK || d->d_type == DT_UNKNOWN) {
      // Links count as what they lead to, as junctions do on Windows.
      struct stat st;
      const std::string full = state_->path + d->d_name;
      isDirectory = ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }
    entry.name = state_->name.c_str();
    entry.nameLength = static_cast<std::uint32_t>(state_->name.size());
    entry.isDirectory = isDirectory;
    return true;
  }
  if (errno != 0) state_->error = posix::errorFrom(errno, "readdir");
  return false;
}

}  // namespace platform
