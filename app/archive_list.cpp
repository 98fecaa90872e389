#include "app/archive_list.h"

#include <cstring>
#include <new>

// A record's first byte: its kind in the top two bits, then whether more
// length bytes follow, then the low five bits of the name's length in
// units. Further length bytes carry seven bits each, low bits first, the
// top bit saying whether another follows. A directory mark is its kind
// byte and the directory's address.
namespace {

constexpr unsigned char kKindBits = 0xC0;
constexpr unsigned char kNarrowName = 0x00;
constexpr unsigned char kWideName = 0x40;
constexpr unsigned char kDirectoryMark = 0x80;
constexpr unsigned char kMoreLength = 0x20;
constexpr unsigned char kFirstLengthBits = 0x1F;
constexpr unsigned kFirstLengthShift = 5;

bool fitsOneByte(xtd::wstrview name) noexcept {
  for (std::uint32_t i = 0; i < name.length; ++i) {
    if (name[i] >= 0x80) return false;
  }
  return true;
}

std::size_t lengthBytes(std::uint32_t length) noexcept {
  std::size_t bytes = 1;
  for (length >>= kFirstLengthShift; length != 0; length >>= 7) ++bytes;
  return bytes;
}

unsigned char* putLength(unsigned char* p, unsigned char kind, std::uint32_t length) noexcept {
  std::uint32_t rest = length >> kFirstLengthShift;
  *p++ = static_cast<unsigned char>(kind | (rest != 0 ? kMoreLength : 0) | (length & kFirstLengthBits));
  while (rest != 0) {
    const unsigned char low = rest & 0x7F;
    rest >>= 7;
    *p++ = static_cast<unsigned char>(low | (rest != 0 ? 0x80 : 0));
  }
  return p;
}

// Reads a name record's header; `p` is left at the name's first byte.
std::uint32_t getLength(const unsigned char*& p) noexcept {
  const unsigned char first = *p++;
  std::uint32_t length = first & kFirstLengthBits;
  if (first & kMoreLength) {
    unsigned shift = kFirstLengthShift;
    unsigned char more;
    do {
      more = *p++;
      length |= static_cast<std::uint32_t>(more & 0x7F) << shift;
      shift += 7;
    } while (more & 0x80);
  }
  return length;
}

std::size_t stringBytes(const xtd::dwstring& s) noexcept {
  return s.on_shared_block() ? 0 : xtd::dwstring::kHeaderSize + std::size_t{s.capacity()} * sizeof(char16_t);
}

bool startsWith(xtd::wstrview text, xtd::wstrview prefix) noexcept {
  if (prefix.length == 0) return true;
  return prefix.length <= text.length &&
         std::memcmp(text.data, prefix.data, prefix.length * sizeof(char16_t)) == 0;
}

}  // namespace

struct ArchiveList::Directory {
  explicit Directory(xtd::wstrview p) : path(p) {}

  xtd::dwstring path;
  std::shared_ptr<std::vector<xtd::dwstring>> leftovers;
  std::size_t leftoverBytes = 0;
  std::uint64_t archives = 0;  // added and not yet taken

  std::size_t bytes() const noexcept { return sizeof(Directory) + stringBytes(path) + leftoverBytes; }
};

struct ArchiveList::Block {
  explicit Block(std::size_t room) : capacity(room) {}

  Block* next = nullptr;
  std::size_t used = 0;
  std::size_t capacity;

  unsigned char* bytes() noexcept { return reinterpret_cast<unsigned char*>(this + 1); }
  std::size_t heapBytes() const noexcept { return sizeof(Block) + capacity; }
};

ArchiveList::~ArchiveList() { dropRemaining(); }

void ArchiveList::enterDirectory(xtd::wstrview directory) {
  // The walk's stack ends in the directories that contain this one; any
  // other directory is left for good.
  while (!walk_.empty() && !startsWith(directory, walk_.back()->path.view())) {
    Directory* left = walk_.back();
    walk_.pop_back();
    if (left->archives == 0) freeDirectory(left);
  }
  // What is left on top contains `directory`: as long, it is the same one.
  if (!walk_.empty() && walk_.back()->path.length() == directory.length) return;

  walk_.reserve(walk_.size() + 1);
  auto* entered = new Directory(directory);
  held_ += entered->bytes();
  walk_.push_back(entered);
}

void ArchiveList::addArchive(xtd::wstrview name) {
  if (walk_.empty()) enterDirectory(xtd::wstrview());
  Directory* current = walk_.back();

  const bool narrow = fitsOneByte(name);
  const std::size_t nameBytes = std::size_t{name.length} * (narrow ? 1 : sizeof(char16_t));
  const bool mark = current != marked_;
  const std::size_t markBytes = mark ? 1 + sizeof(Directory*) : 0;
  unsigned char* p = reserveTail(markBytes + lengthBytes(name.length) + nameBytes);

  if (mark) {
    *p++ = kDirectoryMark;
    std::memcpy(p, &current, sizeof current);
    p += sizeof current;
    marked_ = current;
  }
  p = putLength(p, narrow ? kNarrowName : kWideName, name.length);
  if (narrow) {
    for (std::uint32_t i = 0; i < name.length; ++i) p[i] = static_cast<unsigned char>(name[i]);
  } else if (nameBytes != 0) {
    std::memcpy(p, name.data, nameBytes);
  }
  ++current->archives;
  ++count_;
}

void ArchiveList::addLeftover(xtd::wstrview name) {
  if (walk_.empty()) enterDirectory(xtd::wstrview());
  Directory* current = walk_.back();

  xtd::dwstring path;
  path.reserve(current->path.length() + name.length);
  path.append(current->path.view());
  path.append(name);
  // Built aside and put in place last, so that a failure leaves the
  // directory's leftovers as they were.
  std::shared_ptr<std::vector<xtd::dwstring>> list = current->leftovers;
  std::size_t added = 0;
  if (!list) {
    list = std::make_shared<std::vector<xtd::dwstring>>();
    // The shared block holds the vector beside its table and two counts.
    added = sizeof(std::vector<xtd::dwstring>) + sizeof(void*) + 2 * sizeof(int);
  }
  const std::size_t before = list->capacity() * sizeof(xtd::dwstring);
  list->push_back(std::move(path));
  added += list->capacity() * sizeof(xtd::dwstring) - before + stringBytes(list->back());
  current->leftovers = std::move(list);
  current->leftoverBytes += added;
  held_ += added;
}

unsigned char* ArchiveList::reserveTail(std::size_t bytes) {
  if (tail_ == nullptr || tail_->capacity - tail_->used < bytes) {
    const std::size_t room = bytes > kBlockBytes - sizeof(Block) ? bytes : kBlockBytes - sizeof(Block);
    auto* fresh = new (::operator new(sizeof(Block) + room)) Block(room);
    held_ += fresh->heapBytes();
    if (tail_) {
      tail_->next = fresh;
    } else {
      read_.block = fresh;
    }
    tail_ = fresh;
  }
  unsigned char* p = tail_->bytes() + tail_->used;
  tail_->used += bytes;
  return p;
}

void ArchiveList::endScan() noexcept {
  if (scanEnded_) return;
  scanEnded_ = true;
  for (Directory* d : walk_) {
    if (d->archives == 0) freeDirectory(d);
  }
  std::vector<Directory*>().swap(walk_);
  marked_ = nullptr;
}

void ArchiveList::releaseConsumedBlocks() noexcept {
  // No block is appended once the scan has ended, so the last one goes too.
  while (read_.block && read_.offset == read_.block->used) {
    Block* done = read_.block;
    read_.block = done->next;
    read_.offset = 0;
    if (done == tail_) tail_ = nullptr;
    freeBlock(done);
  }
}

bool ArchiveList::seekArchive() noexcept {
  for (;;) {
    releaseConsumedBlocks();
    if (read_.block == nullptr) return false;
    const unsigned char* p = read_.block->bytes() + read_.offset;
    if ((*p & kKindBits) != kDirectoryMark) return true;
    std::memcpy(&reading_, p + 1, sizeof reading_);
    read_.offset += 1 + sizeof reading_;
  }
}

void ArchiveList::archiveGone() noexcept {
  if (--reading_->archives == 0) {
    // Only a mark can follow the last archive of a directory.
    freeDirectory(reading_);
    reading_ = nullptr;
  }
}

bool ArchiveList::take(Taken& out) {
  Ostra::LockGuard guard(lock_);
  endScan();
  if (!seekArchive()) return false;

  const unsigned char* start = read_.block->bytes() + read_.offset;
  const unsigned char* p = start;
  const bool narrow = (*p & kKindBits) == kNarrowName;
  const std::uint32_t nameLength = getLength(p);
  const xtd::wstrview directory = reading_->path.view();
  const std::uint64_t total = std::uint64_t{directory.length} + nameLength;
  if (total > 0xFFFFFFFFu) throw std::bad_alloc();

  // The one step that can fail comes first and changes nothing when it
  // does: the string keeps its old block until it has the new one.
  out.path.reserve(static_cast<std::uint32_t>(total));
  out.path.assign(directory);
  if (nameLength != 0) {
    char16_t* name = out.path.extend(nameLength);
    if (narrow) {
      for (std::uint32_t i = 0; i < nameLength; ++i) name[i] = p[i];
    } else {
      std::memcpy(name, p, std::size_t{nameLength} * sizeof(char16_t));
    }
  }
  out.leftovers = reading_->leftovers;

  read_.offset += static_cast<std::size_t>(p - start) + std::size_t{nameLength} * (narrow ? 1 : sizeof(char16_t));
  archiveGone();
  releaseConsumedBlocks();
  return true;
}

std::uint64_t ArchiveList::dropRemaining() {
  Ostra::LockGuard guard(lock_);
  endScan();
  std::uint64_t dropped = 0;
  while (seekArchive()) {
    const unsigned char* start = read_.block->bytes() + read_.offset;
    const unsigned char* p = start;
    const bool narrow = (*p & kKindBits) == kNarrowName;
    const std::uint32_t nameLength = getLength(p);
    read_.offset += static_cast<std::size_t>(p - start) + std::size_t{nameLength} * (narrow ? 1 : sizeof(char16_t));
    archiveGone();
    ++dropped;
  }
  return dropped;
}

std::size_t ArchiveList::bytesHeld() const {
  Ostra::LockGuard guard(lock_);
  return held_ + walk_.capacity() * sizeof(Directory*);
}

void ArchiveList::freeDirectory(Directory* directory) noexcept {
  held_ -= directory->bytes();
  delete directory;
}

void ArchiveList::freeBlock(Block* block) noexcept {
  held_ -= block->heapBytes();
  block->~Block();
  ::operator delete(block);
}
