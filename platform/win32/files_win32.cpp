#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <cerrno>
#include <cstdio>

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

// Closes a handle on a failure path, keeping the failure's reason.
void closeKeepingError(HANDLE h) {
  const SystemError error = lastFileError();
  ::CloseHandle(h);
  setLastFileError(error);
}

// The directory part of a path: everything before its last separator.
std::u16string parentOf(const char16_t* path) {
  const std::u16string p(path);
  const std::size_t cut = p.find_last_of(u"\\/");
  if (cut == std::u16string::npos) return u".";
  // "C:\x" has the directory "C:\", not the drive-relative "C:".
  return p.substr(0, cut == 0 || (cut == 2 && p[1] == u':') ? cut + 1 : cut);
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
  FileHandle openForRead(const char16_t* path) override {
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

  bool remove(const char16_t* path) override { return ::DeleteFileW(win32::wide(path)) != 0 || win32::fail("DeleteFileW"); }

  RemoveResult removeIfUnchanged(const char16_t* path, FileHandle f, const RemovalPolicy& policy) override {
    // The reading handle does not share delete access: it goes first.
    ::CloseHandle(handleOf(f));
    // The name itself, a link opened as the link: deleting through this
    // handle removes the name and never a link's target. It shares neither
    // writing nor deleting, so it cannot be had while another program has
    // the file open without sharing its deletion, which every writer does
    // that does not expect its file to go.
    HANDLE name = ::CreateFileW(win32::wide(path), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    RemovalFacts facts;
    if (name == INVALID_HANDLE_VALUE) return openFailed("CreateFileW");
    BY_HANDLE_FILE_INFORMATION info;
    if (!informationOf(name, info)) return closeKeepingError(name), RemoveResult::Failed;
    HANDLE target = INVALID_HANDLE_VALUE;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // A link: the file it leads to is what was read and what is judged,
      // through a handle that keeps writers off it until the link is gone.
      target = ::CreateFileW(win32::wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
      if (target == INVALID_HANDLE_VALUE) {
        const RemoveResult result = openFailed("CreateFileW");
        closeKeepingError(name);
        return result;
      }
      if (!informationOf(target, info)) {
        closeKeepingError(target);
        closeKeepingError(name);
        return RemoveResult::Failed;
      }
    }
    facts.now = statusFrom(info);
    addChangeTime(target != INVALID_HANDLE_VALUE ? target : name, facts.now);
    // Share modes are kept by the file system for every opener, and by a
    // server for every client of a share: no writer goes unseen.
    facts.writersVisible = true;
    facts.time = fileTimeNow();
    RemoveResult result = policy.judge(facts);
    FILE_DISPOSITION_INFO dispose = {};
    dispose.DeleteFile = TRUE;
    if (result == RemoveResult::Removed &&
        !::SetFileInformationByHandle(name, FileDispositionInfo, &dispose, sizeof dispose)) {
      win32::fail("SetFileInformationByHandle");
      result = RemoveResult::Failed;
    }
    if (target != INVALID_HANDLE_VALUE) closeKeepingError(target);
    // The name goes with the last handle on it.
    closeKeepingError(name);
    return result;
  }

  // What each file system is documented to promise for this sequence
  // (write, FlushFileBuffers on the temporary file, MoveFileExW, then this
  // flush through a handle on the new name and a flush of the directory):
  // - NTFS and ReFS log every change of metadata, a rename included, and a
  //   flush of a file writes the log up to that file's latest change: once
  //   it returns, the rename that gave the file this name is on the disk.
  // - FAT32 and exFAT keep a file's size, first cluster and times in its
  //   directory entry, with no log: a flush of the file writes its
  //   directory entry and its allocation, which is where the new name
  //   lives; the flush of the directory writes the rest of its entries.
  // - On an SMB share, the flush is sent to the server, which flushes the
  //   file (and its name, as its own file system keeps it) before it
  //   answers.
  // Only then may the archive go.
  SyncResult syncName(const char16_t* path) override {
    HANDLE h = ::CreateFileW(win32::wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return win32::fail("CreateFileW"), SyncResult::Failed;
    const bool flushed = ::FlushFileBuffers(h) != 0 || win32::fail("FlushFileBuffers");
    ::CloseHandle(h);
    return flushed ? SyncResult::Synced : SyncResult::Failed;
  }

  SyncResult syncParentDirectory(const char16_t* path) override {
    // Backup semantics open a directory; a flush needs write access to it,
    // which a file system or a server may refuse or not implement.
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
  // of the archive it takes the creation and last-write times.
  bool copyMetadata(FileHandle f, const FileStatus& like) override {
    const FILETIME created = fileTimeFrom(like.created);
    const FILETIME accessed = fileTimeFrom(like.accessed);
    const FILETIME modified = fileTimeFrom(like.modified);
    return ::SetFileTime(handleOf(f), &created, &accessed, &modified) != 0 || win32::fail("SetFileTime");
  }

  std::int64_t fileTimeNow() override {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return fileTime(now);
  }

  Stream* streamCreate(const char16_t* path, char* buffer, std::size_t bufferSize) override {
    const FileHandle f = createNew(path);
    if (f == kInvalidFile) return nullptr;
    // The C runtime takes the handle over: closing the stream closes it.
    const int fd = ::_open_osfhandle(f, _O_RDWR | _O_BINARY);
    if (fd < 0) {
      win32::failCrt("_open_osfhandle", errno);
      closeKeepingError(handleOf(f));
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
