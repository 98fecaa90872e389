#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/directory.h"
#include "platform/posix/errors.h"
#include "platform/posix/path_codec.h"
#include "platform/utf8_codec.h"

namespace platform {

struct DirectoryListing::State {
  DIR* dir = nullptr;
  std::string path;  // the directory, ending in '/'
  std::u16string name;
  SystemError error;
};

namespace {

// Keeps every valid UTF-8 sequence of a name as its characters and every
// other byte as the lone surrogate U+DC00 + byte, which no valid sequence
// yields: what is shown of the name then tells its bytes exactly.
void decodeKeepingBytes(const char* bytes, std::size_t size, std::u16string& out) {
  out.clear();
  const char* p = bytes;
  const char* const end = bytes + size;
  while (p != end) {
    const utf8::Decoded d = utf8::decodeOne(p, end);
    // Neither an encoded surrogate nor any but the shortest, strict form of
    // a character is valid UTF-8, though the program's codec reads them.
    bool valid = d.bytes != 0 && !(d.count == 1 && d.units[0] >= 0xD800u && d.units[0] < 0xE000u);
    if (valid) {
      const utf8::Encoded e = utf8::encodeOne(d.units, d.units + d.count);
      valid = e.count == d.bytes && std::memcmp(e.bytes, p, d.bytes) == 0;
    }
    if (valid) {
      out.append(d.units, d.count);
      p += d.bytes;
    } else {
      out.push_back(static_cast<char16_t>(0xDC00u + static_cast<unsigned char>(*p)));
      ++p;
    }
  }
}

}  // namespace

DirectoryListing::DirectoryListing() : state_(new State) {}

DirectoryListing::~DirectoryListing() {
  if (state_->dir) ::closedir(state_->dir);
}

bool DirectoryListing::open(const char16_t* directory, std::uint32_t /*length*/) {
  if (state_->dir) ::closedir(state_->dir);
  state_->path = posix::toNative(directory);
  state_->error = SystemError{};
  state_->dir = ::opendir(state_->path.c_str());
  if (!state_->dir) posix::fail("opendir");
  return state_->dir != nullptr;
}

const SystemError& DirectoryListing::error() const { return state_->error; }

bool DirectoryListing::next(DirectoryEntry& entry) {
  if (!state_->dir) return false;
  errno = 0;
  while (const dirent* d = ::readdir(state_->dir)) {
    const std::size_t size = std::strlen(d->d_name);
    // A name that cannot be spelled in UTF-16 could not be opened again.
    entry.unrepresentable = !posix::fromNative(d->d_name, size, state_->name);
    if (entry.unrepresentable) decodeKeepingBytes(d->d_name, size, state_->name);
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

bool identifyDirectory(const char16_t* path, FileIdentity& identity) {
  struct stat st;
  if (::stat(posix::toNative(path).c_str(), &st) != 0) return false;
  identity.volume = static_cast<std::uint64_t>(st.st_dev);
  identity.index = static_cast<std::uint64_t>(st.st_ino);
  return true;
}

}  // namespace platform
