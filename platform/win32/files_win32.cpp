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

bool statusOf(HANDLE h, FileStatus& out) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info)) return win32::fail();
  out.identity.volume = info.dwVolumeSerialNumber;
  out.identity.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  out.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileKind::Directory : FileKind::Regular;
  out.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  out.modified = fileTime(info.ftLastWriteTime);
  return true;
}

// The lock covers one byte far beyond any real data: byte-range locks are
// mandatory on Windows, and a lock over real bytes would make a recorder's
// writes to the archive fail.
constexpr DWORD kLockOffsetLow = 0xFFFFFFFEu;
constexpr DWORD kLockOffsetHigh = 0xFFFFFFFFu;

class Win32Files final : public FileApi {
 public:
  FileHandle openForRead(const char16_t* path) override {
    HANDLE h = ::CreateFileW(win32::wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return win32::fail(), kInvalidFile;
    if (::GetFileType(h) != FILE_TYPE_DISK) {
      ::CloseHandle(h);
      setLastFileError(SystemError{SystemError::Kind::NotRegular, 0, false});
      return kInvalidFile;
    }
    return reinterpret_cast<FileHandle>(h);
  }

  bool read(FileHandle f, void* buffer, std::uint32_t size, std::uint32_t& got) override {
    got = 0;
    auto* out = static_cast<char*>(buffer);
    while (got < size) {
      DWORD n = 0;
      if (!::ReadFile(handleOf(f), out + got, size - got, &n, nullptr)) return win32::fail();
      if (n == 0) break;
      got += n;
    }
    return true;
  }

  bool seek(FileHandle f, std::uint64_t offset) override {
    LONG high = static_cast<LONG>(offset >> 32);
    const DWORD low = ::SetFilePointer(handleOf(f), static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return win32::fail();
    return ((std::uint64_t{static_cast<DWORD>(high)} << 32) | low) == offset || win32::fail(ERROR_SEEK);
  }

  bool status(FileHandle f, FileStatus& out) override { return statusOf(handleOf(f), out); }

  bool pathStatus(const char16_t* path, FileStatus& out) override {
    // Attributes only: no sharing conflict with whoever has the file open.
    // Backup semantics open directories too, and links are followed.
    HANDLE h = ::CreateFileW(win32::wide(path), FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return win32::fail();
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
    win32::fail(e);
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
    return h == INVALID_HANDLE_VALUE ? (win32::fail(), kInvalidFile) : reinterpret_cast<FileHandle>(h);
  }

  bool write(FileHandle f, const void* data, std::uint32_t size) override {
    const auto* in = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
      DWORD n = 0;
      // WriteFile may write fewer bytes than asked: go on until all are out.
      if (!::WriteFile(handleOf(f), in + done, size - done, &n, nullptr)) return win32::fail();
      if (n == 0) return win32::fail(ERROR_DISK_FULL);
      done += n;
    }
    return true;
  }

  bool flushToDisk(FileHandle f) override { return ::FlushFileBuffers(handleOf(f)) != 0 || win32::fail(); }

  bool close(FileHandle f) override { return ::CloseHandle(handleOf(f)) != 0 || win32::fail(); }

  bool rename(const char16_t* from, const char16_t* to) override {
    return ::MoveFileExW(win32::wide(from), win32::wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0 ||
           win32::fail();
  }

  bool remove(const char16_t* path) override { return ::DeleteFileW(win32::wide(path)) != 0 || win32::fail(); }

  RemoveResult removeIfUnchanged(const char16_t* path, FileHandle f, const FileStatus& expected) override {
    // The reading handle does not share delete access: it goes first. The
    // handle that deletes shares neither writing nor deleting, so it cannot
    // be had while another program writes the file, keeps writers out while
    // the status is compared, and deletes exactly the file it compared.
    ::CloseHandle(handleOf(f));
    HANDLE h = ::CreateFileW(win32::wide(path), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD e = ::GetLastError();
      win32::fail(e);
      if (e == ERROR_SHARING_VIOLATION) return RemoveResult::InUse;
      return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? RemoveResult::Changed : RemoveResult::Failed;
    }
    FileStatus now;
    RemoveResult result = RemoveResult::Removed;
    if (!statusOf(h, now)) {
      result = RemoveResult::Failed;
    } else {
      result = removalVerdict(now, expected);
      FILE_DISPOSITION_INFO dispose = {};
      dispose.DeleteFile = TRUE;
      if (result == RemoveResult::Removed &&
          !::SetFileInformationByHandle(h, FileDispositionInfo, &dispose, sizeof dispose)) {
        win32::fail();
        result = RemoveResult::Failed;
      }
    }
    // The file goes with the last handle.
    ::CloseHandle(h);
    return result;
  }

  // NTFS records a name with the file's metadata, and the rename is written
  // through; there is no directory handle to flush.
  bool syncParentDirectory(const char16_t*) override { return true; }

  Stream* streamCreate(const char16_t* path, char* buffer, std::size_t bufferSize) override {
    const FileHandle f = createNew(path);
    if (f == kInvalidFile) return nullptr;
    // The C runtime takes the handle over: closing the stream closes it.
    const int fd = ::_open_osfhandle(f, _O_RDWR | _O_BINARY);
    if (fd < 0) {
      win32::failCrt(errno);
      ::CloseHandle(handleOf(f));
      return nullptr;
    }
    std::FILE* file = ::_fdopen(fd, "w+b");
    if (!file) {
      win32::failCrt(errno);
      ::_close(fd);
      return nullptr;
    }
    Stream* s = stdio::adopt(file, buffer, bufferSize);
    if (!s) win32::failCrt(ENOMEM);
    return s;
  }

  std::size_t streamWrite(Stream* s, const void* data, std::size_t size) override {
    const std::size_t n = stdio::write(s, data, size);
    if (n != size) win32::failCrt(errno);
    return n;
  }

  std::size_t streamRead(Stream* s, void* buffer, std::size_t size) override {
    const std::size_t n = stdio::read(s, buffer, size);
    if (n != size) win32::failCrt(std::ferror(s->file) ? errno : EIO);
    return n;
  }

  bool streamSeek(Stream* s, std::uint64_t offset) override {
    return ::_fseeki64(s->file, static_cast<__int64>(offset), SEEK_SET) == 0 || win32::failCrt(errno);
  }

  bool streamFlushToDisk(Stream* s) override {
    if (!stdio::drain(s)) return win32::failCrt(errno);
    HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(s->file)));
    return (h != INVALID_HANDLE_VALUE && ::FlushFileBuffers(h) != 0) || win32::fail();
  }

  bool streamClose(Stream* s) override { return stdio::close(s) || win32::failCrt(errno); }
};

}  // namespace

FileApi& nativeFiles() {
  static Win32Files api;
  return api;
}

}  // namespace platform
