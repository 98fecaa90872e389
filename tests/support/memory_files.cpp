#include "tests/support/memory_files.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

#include "platform/paths.h"

namespace avdtest {

namespace {

using Kind = platform::SystemError::Kind;

std::u16string parentOf(const std::u16string& path) {
  const std::size_t cut = path.find_last_of(u"/\\");
  return cut == std::u16string::npos ? std::u16string() : path.substr(0, cut);
}

}  // namespace

bool MemoryFiles::fail(Kind kind, const char* call) {
  platform::setLastFileError(platform::simulatedError(kind, call));
  return false;
}

platform::FileStatus MemoryFiles::statusLocked(const Node& node) const {
  platform::FileStatus out;
  out.identity = {1, node.serial};
  out.kind = platform::FileKind::Regular;
  out.size = node.data.size();
  out.modified = node.modified;
  out.changed = node.changed;
  out.accessed = node.modified;
  out.permissions = node.permissions;
  return out;
}

bool MemoryFiles::hasWriter(const std::shared_ptr<Node>& node) const {
  for (const auto& [f, o] : open_) {
    if (o.node == node && o.writable) return true;
  }
  return false;
}

platform::FileHandle MemoryFiles::openForWriting(const std::u16string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = names_.find(path);
  if (it == names_.end()) return platform::kInvalidFile;
  return add(it->second, true);
}

void MemoryFiles::append(const std::u16string& path, const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = names_.find(path);
  if (it == names_.end()) return;
  Open o{it->second, it->second->data.size(), true};
  writeAt(o, bytes.data(), bytes.size());
}

void MemoryFiles::setWritersVisible(bool visible) {
  std::lock_guard<std::mutex> lock(mutex_);
  writersVisible_ = visible;
}

void MemoryFiles::advanceClock(std::int64_t seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  now_ += seconds * platform::kFileTimeUnitsPerSecond;
}

platform::FileStatus MemoryFiles::statusOf(const std::u16string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = names_.find(path);
  return it == names_.end() ? platform::FileStatus{} : statusLocked(*it->second);
}

std::shared_ptr<MemoryFiles::Node> MemoryFiles::newNode() {
  auto node = std::make_shared<Node>();
  node->serial = serial_++;
  return node;
}

void MemoryFiles::put(const std::u16string& path, const std::string& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto node = newNode();
  node->data = node->durableData = bytes;
  node->modified = node->changed = now_ - 3600 * platform::kFileTimeUnitsPerSecond;
  names_[path] = node;
  durableNames_[path] = node;
}

bool MemoryFiles::exists(const std::u16string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return names_.count(path) != 0;
}

std::string MemoryFiles::contents(const std::u16string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = names_.find(path);
  return it == names_.end() ? std::string() : it->second->data;
}

std::map<std::u16string, std::string> MemoryFiles::files() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::map<std::u16string, std::string> out;
  for (const auto& [name, node] : names_) out[name] = node->data;
  return out;
}

int MemoryFiles::openHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(open_.size());
}

void MemoryFiles::crash(bool garble) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [f, o] : open_) o.node->lockedBy = platform::kInvalidFile;
  open_.clear();
  for (const auto& name : removed_) durableNames_.erase(name);
  removed_.clear();
  names_ = durableNames_;
  for (auto& [name, node] : names_) {
    if (garble && node->data != node->durableData) {
      // Blocks that never reached the disk come back as junk.
      std::string junk = node->durableData;
      if (node->data.size() > junk.size()) junk.resize(node->data.size(), '\xA5');
      node->data = junk;
      node->durableData = junk;
    } else {
      node->data = node->durableData;
    }
  }
}

MemoryFiles::Open* MemoryFiles::find(platform::FileHandle f) {
  const auto it = open_.find(f);
  return it == open_.end() ? nullptr : &it->second;
}

platform::FileHandle MemoryFiles::add(std::shared_ptr<Node> node, bool writable) {
  const platform::FileHandle f = next_++;
  open_[f] = Open{std::move(node), 0, writable};
  return f;
}

platform::FileHandle MemoryFiles::openForRead(const char16_t* path, platform::FileStatus* opened) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = names_.find(path);
  if (it == names_.end()) return fail(Kind::NotFound), platform::kInvalidFile;
  if (opened) *opened = statusLocked(*it->second);
  return add(it->second, false);
}

bool MemoryFiles::read(platform::FileHandle f, void* buffer, std::uint32_t size, std::uint32_t& got) {
  std::lock_guard<std::mutex> lock(mutex_);
  got = 0;
  Open* o = find(f);
  if (!o) return fail(Kind::Other);
  const std::string& d = o->node->data;
  if (o->position < d.size()) {
    got = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, d.size() - o->position));
    std::memcpy(buffer, d.data() + o->position, got);
    o->position += got;
  }
  return true;
}

bool MemoryFiles::seek(platform::FileHandle f, std::uint64_t offset) {
  std::lock_guard<std::mutex> lock(mutex_);
  Open* o = find(f);
  if (!o) return fail(Kind::Other);
  o->position = offset;
  return true;
}

bool MemoryFiles::status(platform::FileHandle f, platform::FileStatus& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  Open* o = find(f);
  if (!o) return fail(Kind::Other);
  out = statusLocked(*o->node);
  return true;
}

bool MemoryFiles::pathStatus(const char16_t* path, platform::FileStatus& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = names_.find(path);
  if (it == names_.end()) return fail(Kind::NotFound, "stat");
  out = statusLocked(*it->second);
  return true;
}

platform::LockResult MemoryFiles::tryLock(platform::FileHandle f) {
  std::lock_guard<std::mutex> lock(mutex_);
  Open* o = find(f);
  if (!o) return fail(Kind::Other), platform::LockResult::Failed;
  if (o->node->lockedBy != platform::kInvalidFile && o->node->lockedBy != f) {
    return fail(Kind::Busy), platform::LockResult::Busy;
  }
  o->node->lockedBy = f;
  return platform::LockResult::Locked;
}

bool MemoryFiles::nextData(platform::FileHandle, std::uint64_t offset, std::uint64_t& dataOffset) {
  dataOffset = offset;
  return true;
}

platform::FileHandle MemoryFiles::createNew(const char16_t* path) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& node = names_[path];
  if (node) return fail(Kind::Exists, "open"), platform::kInvalidFile;
  node = newNode();
  node->modified = node->changed = ++now_;
  return add(node, true);
}

std::size_t MemoryFiles::writeAt(Open& o, const void* data, std::size_t size) {
  std::string& d = o.node->data;
  if (d.size() < o.position + size) d.resize(o.position + size, '\0');
  if (size) std::memcpy(&d[o.position], data, size);
  o.position += size;
  o.node->modified = o.node->changed = ++now_;
  return size;
}

bool MemoryFiles::write(platform::FileHandle f, const void* data, std::uint32_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  Open* o = find(f);
  if (!o || !o->writable) return fail(Kind::AccessDenied);
  writeAt(*o, data, size);
  return true;
}

bool MemoryFiles::flushToDisk(platform::FileHandle f) {
  std::lock_guard<std::mutex> lock(mutex_);
  Open* o = find(f);
  if (!o) return fail(Kind::Other);
  o->node->durableData = o->node->data;
  return true;
}

bool MemoryFiles::closeLocked(platform::FileHandle f) {
  const auto it = open_.find(f);
  if (it == open_.end()) return fail(Kind::Other);
  if (it->second.node->lockedBy == f) it->second.node->lockedBy = platform::kInvalidFile;
  open_.erase(it);
  return true;
}

bool MemoryFiles::close(platform::FileHandle f) {
  std::lock_guard<std::mutex> lock(mutex_);
  return closeLocked(f);
}

bool MemoryFiles::rename(const char16_t* from, const char16_t* to) {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = names_.find(from);
  if (it == names_.end()) return fail(Kind::NotFound);
  names_[to] = it->second;
  names_.erase(it);
  return true;
}

bool MemoryFiles::remove(const char16_t* path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (names_.erase(path) == 0) return fail(Kind::NotFound);
  removed_.insert(path);
  return true;
}

platform::RemoveResult MemoryFiles::removeIfUnchanged(const char16_t* path, platform::ScopedFile file,
                                                      const platform::RemovalPolicy& policy) {
  const platform::FileHandle f = file.release();
  std::lock_guard<std::mutex> lock(mutex_);
  std::u16string name;
  try {
    name = path;
  } catch (...) {
    // As the system's: the handle goes in every case.
    closeLocked(f);
    throw;
  }
  const auto it = names_.find(name);
  if (it == names_.end()) {
    closeLocked(f);
    return fail(Kind::NotFound, "open"), platform::RemoveResult::Gone;
  }
  platform::RemovalFacts facts;
  facts.now = statusLocked(*it->second);
  // As a lease does: it sees other writers where the system sees them all.
  facts.writersVisible = writersVisible_;
  facts.writerSeen = writersVisible_ && hasWriter(it->second);
  facts.time = now_;
  const platform::RemoveResult verdict = policy.judge(facts);
  closeLocked(f);
  if (verdict != platform::RemoveResult::Removed) return verdict;
  // The bookkeeping first: a removal that runs out of memory removes nothing.
  removed_.insert(name);
  names_.erase(it);
  return platform::RemoveResult::Removed;
}

platform::SyncResult MemoryFiles::syncName(const char16_t*) { return platform::SyncResult::Synced; }

bool MemoryFiles::copyMetadata(platform::FileHandle f, const platform::FileStatus& like,
                               const platform::FileStatus* /*current*/) {
  std::lock_guard<std::mutex> lock(mutex_);
  Open* o = find(f);
  if (!o) return fail(Kind::Other, "futimens");
  o->node->permissions = like.permissions;
  o->node->modified = like.modified;
  o->node->changed = ++now_;
  return true;
}

namespace {

class MemoryListing final : public platform::DirectoryCursor {
 public:
  explicit MemoryListing(std::vector<std::pair<std::u16string, bool>> entries) : entries_(std::move(entries)) {}
  bool next(platform::DirectoryEntry& entry) override {
    if (next_ == entries_.size()) return false;
    const auto& [name, directory] = entries_[next_++];
    entry.name = name.c_str();
    entry.nameLength = static_cast<std::uint32_t>(name.size());
    entry.isDirectory = directory;
    return true;
  }
  const platform::SystemError& error() const override { return error_; }

 private:
  std::vector<std::pair<std::u16string, bool>> entries_;
  std::size_t next_ = 0;
  platform::SystemError error_;
};

}  // namespace

std::unique_ptr<platform::DirectoryCursor> MemoryFiles::listDirectory(const char16_t* directory, std::uint32_t length,
                                                                      bool /*keepAccessTime*/) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::u16string prefix(directory, length);
  std::vector<std::pair<std::u16string, bool>> entries;
  std::set<std::u16string> directories;
  for (auto it = names_.lower_bound(prefix); it != names_.end() && it->first.starts_with(prefix); ++it) {
    const std::u16string rest = it->first.substr(prefix.size());
    const std::size_t cut = rest.find(platform::kPathSeparator);
    if (cut == std::u16string::npos) {
      entries.emplace_back(rest, false);
    } else if (directories.insert(rest.substr(0, cut)).second) {
      entries.emplace_back(rest.substr(0, cut), true);
    }
  }
  if (entries.empty()) return fail(Kind::NotFound, "opendir"), nullptr;
  return std::make_unique<MemoryListing>(std::move(entries));
}

bool MemoryFiles::flushFileSystemOf(platform::FileHandle) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [f, o] : open_) o.node->durableData = o.node->data;
  for (auto& [name, node] : names_) node->durableData = node->data;
  return true;
}

std::int64_t MemoryFiles::fileTimeNow() {
  std::lock_guard<std::mutex> lock(mutex_);
  return now_;
}

platform::SyncResult MemoryFiles::syncParentDirectory(const char16_t* path) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::u16string dir = parentOf(path);
  // The directory's entries as they stand now become the durable ones.
  for (auto it = durableNames_.begin(); it != durableNames_.end();) {
    it = parentOf(it->first) == dir ? durableNames_.erase(it) : std::next(it);
  }
  for (auto it = removed_.begin(); it != removed_.end();) {
    it = parentOf(*it) == dir ? removed_.erase(it) : std::next(it);
  }
  for (const auto& [name, node] : names_) {
    if (parentOf(name) == dir) durableNames_[name] = node;
  }
  return platform::SyncResult::Synced;
}

platform::Stream* MemoryFiles::streamCreate(const char16_t* path, char*, std::size_t) {
  // A stream is a handle in disguise; reading it is allowed too ("w+b").
  const platform::FileHandle f = createNew(path);
  return f == platform::kInvalidFile ? nullptr : reinterpret_cast<platform::Stream*>(f);
}

std::size_t MemoryFiles::streamWrite(platform::Stream* s, const void* data, std::size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  Open* o = find(reinterpret_cast<platform::FileHandle>(s));
  return o ? writeAt(*o, data, size) : (fail(Kind::Other), 0);
}

std::size_t MemoryFiles::streamRead(platform::Stream* s, void* buffer, std::size_t size) {
  std::uint32_t got = 0;
  read(reinterpret_cast<platform::FileHandle>(s), buffer, static_cast<std::uint32_t>(size), got);
  return got;
}

bool MemoryFiles::streamSeek(platform::Stream* s, std::uint64_t offset) {
  return seek(reinterpret_cast<platform::FileHandle>(s), offset);
}

bool MemoryFiles::streamFlushToDisk(platform::Stream* s) { return flushToDisk(reinterpret_cast<platform::FileHandle>(s)); }

bool MemoryFiles::streamClose(platform::Stream* s) { return close(reinterpret_cast<platform::FileHandle>(s)); }

platform::FileHandle MemoryFiles::streamHandle(platform::Stream* s) { return reinterpret_cast<platform::FileHandle>(s); }

}  // namespace avdtest
