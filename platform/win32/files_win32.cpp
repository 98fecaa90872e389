#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/directory.h"
#include "platform/files.h"
#include "platform/stdio_stream.h"
#include "platform/win32/errors.h"
#include "platform/win32/windows_min.h"

namespace platform {

namespace {

HANDLE handleOf(FileHandle f) { return reinterpret_cast<HANDLE>(f); }

std::int64_t fileTime(const FILETIME& t) {
  return static_cast<std::int64_t>((std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime);
}

FILETIME fileTimeFrom(std::int64_t t) {
  FILETIME out;
  out.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(t) & 0xFFFFFFFFu);
  out.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(t) >> 32);
  return out;
}

bool informationOf(HANDLE h, BY_HANDLE_FILE_INFORMATION& info) {
  return ::GetFileInformationByHandle(h, &info) != 0 || win32::fail("GetFileInformationByHandle");
}

FileStatus statusFrom(const BY_HANDLE_FILE_INFORMATION& info) {
  FileStatus out;
  out.identity.volume = info.dwVolumeSerialNumber;
  out.identity.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  out.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Directory : FileKind::Regular;
  out.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  out.modified = fileTime(info.ftLastWriteTime);
  out.accessed = fileTime(info.ftLastAccessTime);
  out.created = fileTime(info.ftCreationTime);
  return out;
}

// The change time is kept apart from the handle's other information.
void addChangeTime(HANDLE h, FileStatus& out) {
  FILE_BASIC_INFO basic;
  out.changed = ::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) ? basic.ChangeTime.QuadPart
                                                                                        : out.modified;
}

bool statusOf(HANDLE h, FileStatus& out) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!informationOf(h, info)) return false;
  out = statusFrom(info);
  addChangeTime(h, out);
  return true;
}

// Whether the entry `h` (opened as a reparse point, `info` its information)
// is a link to another name: a symbolic link or a junction. Other reparse
// points (deduplicated, compressed or cloud files) are the file itself, and
// opening them again through the name would open the same file.
bool isLink(HANDLE h, const BY_HANDLE_FILE_INFORMATION& info, bool& link) {
  link = false;
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
  FILE_ATTRIBUTE_TAG_INFO tag;
  if (!::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag)) {
    return win32::fail("GetFileInformationByHandleEx");
  }
  link = IsReparseTagNameSurrogate(tag.ReparseTag) != 0;
  return true;
}

// Closes its handle when it goes, an exception's way out included. (Only
// failed calls of this layer record an error: a close on the way out leaves
// the reason alone.)
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~ScopedHandle() {
    if (*this) ::CloseHandle(h_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  void reset(HANDLE h) {
    if (*this) ::CloseHandle(h_);
    h_ = h;
  }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

// Whether `dir`, which ends in no separator, is the root of a drive or a
// share ("C:", "\\?\C:", "\\server\share", "\\?\UNC\server\share"): a
// root directory is named with its separator.
bool isRoot(std::u16string_view dir) {
  bool share = true;
  if (dir.starts_with(u"\\\\?\\UNC\\")) {
    dir.remove_prefix(8);
  } else if (dir.starts_with(u"\\\\?\\") || dir.starts_with(u"\\\\.\\")) {
    dir.remove_prefix(4);
    share = false;
  } else if (dir.starts_with(u"\\\\")) {
    dir.remove_prefix(2);
  } else {
    share = false;
  }
  if (!share) return dir.size() == 2 && dir[1] == u':';
  const std::size_t cut = dir.find_first_of(u"\\/");
  return cut != 0 && cut != std::u16string_view::npos && cut + 1 < dir.size() &&
         dir.find_first_of(u"\\/", cut + 1) == std::u16string_view::npos;
}

// The directory part of a path: everything before its last separator.
std::u16string parentOf(const char16_t* path) {
  const std::u16string p(path);
  const std::size_t cut = p.find_last_of(u"\\/");
  // "C:x" lies in the current directory of drive C.
  if (cut == std::u16string::npos) return p.size() >= 2 && p[1] == u':' ? p.substr(0, 2) : u".";
  std::u16string dir = p.substr(0, cut);
  if (dir.empty() || isRoot(dir)) dir.push_back(u'\\');
  return dir;
}

// The last component of a path.
std::wstring leafOf(const char16_t* path) {
  const std::u16string_view p(path);
  const std::size_t cut = p.find_last_of(u"\\/:");
  const std::u16string_view leaf = cut == std::u16string_view::npos ? p : p.substr(cut + 1);
  return std::wstring(reinterpret_cast<const wchar_t*>(leaf.data()), leaf.size());
}

// The path of what `h` is open on within its volume, as the system reached
// it, links followed. (GetFinalPathNameByHandleW would do, but Wine's fails
// on a path longer than MAX_PATH.)
bool pathInVolumeOf(HANDLE h, std::wstring& out) {
  std::vector<DWORD> buffer(128);
  for (;;) {
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (::GetFileInformationByHandleEx(h, FileNameInfo, info, static_cast<DWORD>(buffer.size() * sizeof(DWORD)))) {
      out.assign(info->FileName, info->FileNameLength / sizeof(wchar_t));
      return true;
    }
    // Too small a buffer: the length of the whole name is given.
    if (::GetLastError() != ERROR_MORE_DATA || buffer.size() > 0x8000) {
      return win32::fail("GetFileInformationByHandleEx");
    }
    const std::size_t needed = (sizeof(FILE_NAME_INFO) + info->FileNameLength) / sizeof(DWORD) + 1;
    buffer.resize(needed > buffer.size() ? needed : 2 * buffer.size());
  }
}

// Whether `entry`, opened through `path` as a reparse point, is the
// directory entry `path` names, in the directory the system reaches for
// it. A system that does not show a link as a reparse point opens the file
// it leads to instead (Wine does so with a Unix symbolic link), and a
// deletion through that handle would delete a file outside the tree: it is
// refused as a request the system does not support.
bool isEntryOf(HANDLE entry, const char16_t* path) {
  const ScopedHandle dir(::CreateFileW(win32::wide(parentOf(path).c_str()), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!dir) return win32::fail("CreateFileW");
  BY_HANDLE_FILE_INFORMATION dirInfo, entryInfo;
  std::wstring expected, reached;
  if (!informationOf(dir.get(), dirInfo) || !informationOf(entry, entryInfo) || !pathInVolumeOf(dir.get(), expected) ||
      !pathInVolumeOf(entry, reached)) {
    return false;
  }
  if (expected.empty() || expected.back() != L'\\') expected.push_back(L'\\');
  expected += leafOf(path);
  const bool same = dirInfo.dwVolumeSerialNumber == entryInfo.dwVolumeSerialNumber &&
                    ::CompareStringOrdinal(expected.data(), static_cast<int>(expected.size()), reached.data(),
                                           static_cast<int>(reached.size()), TRUE) == CSTR_EQUAL;
  return same || win32::fail("CreateFileW", ERROR_NOT_SUPPORTED);
}

// Marks the file `h` (opened with delete access) for deletion: it goes
// with the last handle on it.
bool markForDeletion(HANDLE h) {
  FILE_DISPOSITION_INFO dispose = {};
  dispose.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(h, FileDispositionInfo, &dispose, sizeof dispose) != 0 ||
         win32::fail("SetFileInformationByHandle");
}

// What a file system or a server answers when it cannot flush a directory,
// or will not open one for it: then the files' own flushes are all there is.
bool cannotFlushDirectories(DWORD e) {
  return e == ERROR_INVALID_FUNCTION || e == ERROR_ACCESS_DENIED || e == ERROR_INVALID_PARAMETER ||
         e == ERROR_NOT_SUPPORTED || e == ERROR_INVALID_HANDLE;
}

// The lock covers one byte far beyond any real data: byte-range locks are
// mandatory on Windows, and a lock over real bytes would make a recorder's
// writes to the archive fail.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFEu;
constexpr DWORD kLockOffsetHigh = 0xFFFFFFFFu;

class Win32Files final : public FileApi {
 public:
  FileHandle openForRead(const char16_t* path, FileStatus* opened) override {
    // A program that holds the file without sharing it makes this fail
    // with ERROR_SHARING_VIOLATION: the archive is in use (Kind::Busy).
    HANDLE h = ::CreateFileW(win32::wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return win32::fail("CreateFileW"), kInvalidFile;
    if (::GetFileType(h) != FILE_TYPE_DISK) {
      ::CloseHandle(h);
      setLastFileError(SystemError{SystemError::Kind::NotRegular, 0, false, "GetFileType"});
      return kInvalidFile;
    }
    if (opened && !statusOf(h, *opened)) {
      ::CloseHandle(h);
      return kInvalidFile;
    }
    return reinterpret_cast<FileHandle>(h);
  }

  bool read(FileHandle f, void* buffer, std::uint32_t size, std::uint32_t& got) override {
    got = 0;
    auto* out = static_cast<char*>(buffer);
    while (got < size) {
      DWORD n = 0;
      if (!::ReadFile(handleOf(f), out + got, size - got, &n, nullptr)) return win32::fail("ReadFile");
      if (n == 0) break;
      got += n;
    }
    return true;
  }

  bool seek(FileHandle f, std::uint64_t offset) override {
    LONG high = static_cast<LONG>(offset >> 32);
    const DWORD low = ::SetFilePointer(handleOf(f), static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return win32::fail("SetFilePointer");
    return ((std::uint64_t{static_cast<DWORD>(high)} << 32) | low) == offset || win32::fail("SetFilePointer", ERROR_SEEK);
  }

  bool status(FileHandle f, FileStatus& out) override { return statusOf(handleOf(f), out); }

  bool pathStatus(const char16_t* path, FileStatus& out) override {
    // Attributes only: no sharing conflict with whoever has the file open.
    // Backup semantics open directories too, and links are followed.
    HANDLE h = ::CreateFileW(win32::wide(path), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return win32::fail("CreateFileW");
    const bool ok = statusOf(h, out);
    if (ok && out.kind == FileKind::Regular && ::GetFileType(h) != FILE_TYPE_DISK) out.kind = FileKind::Other;
    ::CloseHandle(h);
    return ok;
  }

  LockResult tryLock(FileHandle f) override {
    OVERLAPPED at = {};
    at.Offset = kLockOffsetLow;
    at.OffsetHigh = kLockOffsetHigh;
    if (::LockFileEx(handleOf(f), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
      return LockResult::Locked;
    }
    const DWORD e = ::GetLastError();
    win32::fail("LockFileEx", e);
    return e == ERROR_LOCK_VIOLATION || e == ERROR_IO_PENDING ? LockResult::Busy : LockResult::Failed;
  }

  // Holes are not looked for: every byte may be data.
  bool nextData(FileHandle, std::uint64_t offset, std::uint64_t& dataOffset) override {
    dataOffset = offset;
    return true;
  }

  FileHandle createNew(const char16_t* path) override {
    HANDLE h = ::CreateFileW(win32::wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? (win32::fail("CreateFileW"), kInvalidFile) : reinterpret_cast<FileHandle>(h);
  }

  bool write(FileHandle f, const void* data, std::uint32_t size) override {
    const auto* in = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
      DWORD n = 0;
      // WriteFile may write fewer bytes than asked: go on until all are out.
      if (!::WriteFile(handleOf(f), in + done, size - done, &n, nullptr)) return win32::fail("WriteFile");
      if (n == 0) return win32::fail("WriteFile", ERROR_DISK_FULL);
      done += n;
    }
    return true;
  }

  bool flushToDisk(FileHandle f) override {
    return ::FlushFileBuffers(handleOf(f)) != 0 || win32::fail("FlushFileBuffers");
  }

  bool close(FileHandle f) override { return ::CloseHandle(handleOf(f)) != 0 || win32::fail("CloseHandle"); }

  // The write-through flag is documented to matter only for a move done as
  // a copy and a delete (another volume); within a volume the new name is
  // made durable by syncName and syncParentDirectory.
  bool rename(const char16_t* from, const char16_t* to) override {
    return ::MoveFileExW(win32::wide(from), win32::wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
           win32::fail("MoveFileExW");
  }

  // What DeleteFileW does (a link loses the link, never its target), once
  // the handle is known to be on the name itself.
  bool remove(const char16_t* path) override {
    const ScopedHandle entry(::CreateFileW(win32::wide(path), DELETE | FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!entry) return win32::fail("CreateFileW");
    return isEntryOf(entry.get(), path) && markForDeletion(entry.get());
  }

  RemoveResult removeIfUnchanged(const char16_t* path, ScopedFile file, const RemovalPolicy& policy) override {
    // The reading handle shares no deletion, so that nobody renames the
    // archive away while it is read: it has to go before a deleting one.
    ::CloseHandle(handleOf(file.release()));
    const win32::WidePath name = win32::wide(path);
    // Declared first, closed last: the name goes before writers may have
    // the file back.
    ScopedHandle target;
    // The directory entry itself, a link opened as the link, so that the
    // deletion removes the name and never what a link leads to. Sharing
    // neither writing nor deleting, it cannot be had while another program
    // has the file open for writing, or open at all without sharing its
    // deletion (a sharing violation: in use), and keeps them off it until
    // the name is gone, with the last handle on it.
    const auto openEntry = [&name] {
      return ::CreateFileW(name, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    };
    ScopedHandle entry(openEntry());
    // A sharing violation may come from this run itself: a conversion of
    // another name of the file (a hard link) holds it open for the moment
    // between its open and the lock it then finds taken. That lets go at
    // once; a program that holds the file stays.
    for (int attempt = 0; !entry && ::GetLastError() == ERROR_SHARING_VIOLATION && attempt < 5; ++attempt) {
      ::Sleep(20);
      entry.reset(openEntry());
    }
    if (!entry) return openFailed("CreateFileW");
    BY_HANDLE_FILE_INFORMATION info;
    bool link = false;
    if (!isEntryOf(entry.get(), path) || !informationOf(entry.get(), info) || !isLink(entry.get(), info, link)) {
      return RemoveResult::Failed;
    }
    if (link) {
      // What was read is the file the link leads to: it is judged through
      // a handle that keeps writers off it until the link is gone.
      target.reset(::CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
      if (!target) return openFailed("CreateFileW");
      if (!informationOf(target.get(), info)) return RemoveResult::Failed;
    }
    RemovalFacts facts;
    facts.now = statusFrom(info);
    addChangeTime(target ? target.get() : entry.get(), facts.now);
    // Share modes are kept by the file system for every opener, and by a
    // server for every client of a share: no writer goes unseen.
    facts.writersVisible = true;
    facts.time = fileTimeNow();
    const RemoveResult result = policy.judge(facts);
    if (result == RemoveResult::Removed && !markForDeletion(entry.get())) return RemoveResult::Failed;
    return result;
  }

  // The sequence an output goes through: write, FlushFileBuffers on the
  // temporary file, MoveFileExW over the final name, then this flush through
  // a handle on the new name, then the directory's (syncParentDirectory),
  // and only then the archive's removal. MoveFileExW's write-through flag is
  // documented only for a move done as a copy and a delete, hence the
  // flushes. What is documented for them:
  // - Every Windows file system keeps metadata in the cache until the file
  //   is flushed or written through, and a file's flush writes its data and
  //   its metadata and then has the disk empty its own cache (NTFS, ReFS,
  //   FAT, exFAT); the file systems' common model has that flush persist the
  //   directory structure, for a file and for a directory alike.
  // - NTFS counts a rename among the metadata changes that a flush (or a
  //   write-through) stores: once the flush through the new name returns,
  //   the rename is on the disk. ReFS is documented for every call here.
  // - FAT32 and exFAT keep a file's name, size and first cluster in its
  //   directory entries, without a log: the file's flush writes them, the
  //   directory's flush the entry the replaced output freed. What a power
  //   loss before both returned leaves is not promised; the archive is
  //   still there then.
  // - An SMB server hands a flush of a file opened for writing, or of a
  //   directory opened to add files, to its own file system and answers once
  //   that is done; on a continuously available share it answers at once,
  //   and durability is the server's own.
  // The name is opened as it is, never through a link that has meanwhile
  // taken it: the caller then finds the name displaced.
  SyncResult syncName(const char16_t* path) override {
    // A flush needs write access.
    HANDLE h = ::CreateFileW(win32::wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return win32::fail("CreateFileW"), SyncResult::Failed;
    const bool flushed = ::FlushFileBuffers(h) != 0 || win32::fail("FlushFileBuffers");
    ::CloseHandle(h);
    return flushed ? SyncResult::Synced : SyncResult::Failed;
  }

  SyncResult syncParentDirectory(const char16_t* path) override {
    // Backup semantics open a directory; write access (which holds adding
    // files and subdirectories) lets it be flushed, where the file system
    // or the server implements and allows that.
    const std::u16string dir = parentOf(path);
    HANDLE h = ::CreateFileW(win32::wide(dir.c_str()), GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD e = ::GetLastError();
      win32::fail("CreateFileW", e);
      return cannotFlushDirectories(e) ? SyncResult::NotSupported : SyncResult::Failed;
    }
    SyncResult result = SyncResult::Synced;
    if (!::FlushFileBuffers(h)) {
      const DWORD e = ::GetLastError();
      win32::fail("FlushFileBuffers", e);
      result = cannotFlushDirectories(e) ? SyncResult::NotSupported : SyncResult::Failed;
    }
    ::CloseHandle(h);
    return result;
  }

  // The output inherits its directory's access rules as any new file does;
  // of the archive it takes the three times. A time of zero, one the file
  // system does not keep, leaves the output's own.
  bool copyMetadata(FileHandle f, const FileStatus& like, const FileStatus* /*current*/) override {
    const FILETIME created = fileTimeFrom(like.created);
    const FILETIME accessed = fileTimeFrom(like.accessed);
    const FILETIME modified = fileTimeFrom(like.modified);
    return ::SetFileTime(handleOf(f), &created, &accessed, &modified) != 0 || win32::fail("SetFileTime");
  }

  // A flush of a whole volume needs administrative rights: each file is
  // flushed on its own.
  bool flushFileSystemOf(FileHandle) override { return false; }

  std::int64_t fileTimeNow() override {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return fileTime(now);
  }

  std::unique_ptr<DirectoryCursor> listDirectory(const char16_t* directory, std::uint32_t length,
                                                 bool keepAccessTime) override {
    auto listing = std::make_unique<DirectoryListing>();
    if (!listing->open(directory, length, keepAccessTime)) return nullptr;
    return listing;
  }

  Stream* streamCreate(const char16_t* path, char* buffer, std::size_t bufferSize) override {
    const FileHandle f = createNew(path);
    if (f == kInvalidFile) return nullptr;
    // The C runtime takes the handle over: closing the stream closes it.
    const int fd = ::_open_osfhandle(f, _O_RDWR | _O_BINARY);
    if (fd < 0) {
      win32::failCrt("_open_osfhandle", errno);
      ::CloseHandle(handleOf(f));
      return nullptr;
    }
    std::FILE* file = ::_fdopen(fd, "w+b");
    if (!file) {
      win32::failCrt("_fdopen", errno);
      ::_close(fd);
      return nullptr;
    }
    Stream* s = stdio::adopt(file, buffer, bufferSize);
    if (!s) win32::failCrt("setvbuf", ENOMEM);
    return s;
  }

  std::size_t streamWrite(Stream* s, const void* data, std::size_t size) override {
    const std::size_t n = stdio::write(s, data, size);
    if (n != size) win32::failCrt("fwrite", errno);
    return n;
  }

  std::size_t streamRead(Stream* s, void* buffer, std::size_t size) override {
    const std::size_t n = stdio::read(s, buffer, size);
    if (n != size) win32::failCrt("fread", std::ferror(s->file) ? errno : EIO);
    return n;
  }

  bool streamSeek(Stream* s, std::uint64_t offset) override {
    return ::_fseeki64(s->file, static_cast<__int64>(offset), SEEK_SET) == 0 || win32::failCrt("_fseeki64", errno);
  }

  bool streamFlushToDisk(Stream* s) override {
    if (!stdio::drain(s)) return win32::failCrt("fflush", errno);
    return flushToDisk(streamHandle(s));
  }

  bool streamClose(Stream* s) override { return stdio::close(s) || win32::failCrt("fclose", errno); }

  FileHandle streamHandle(Stream* s) override {
    if (!stdio::drain(s)) return win32::failCrt("fflush", errno), kInvalidFile;
    return ::_get_osfhandle(::_fileno(s->file));
  }

 private:
  // Why the name could not be opened for its removal.
  static RemoveResult openFailed(const char* call) {
    const DWORD e = ::GetLastError();
    win32::fail(call, e);
    if (e == ERROR_SHARING_VIOLATION) return RemoveResult::InUse;
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? RemoveResult::Gone : RemoveResult::Failed;
  }
};

}  // namespace

FileApi& nativeFiles() {
  static Win32Files api;
  return api;
}

}  // namespace platform
