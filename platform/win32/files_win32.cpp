#include <io.h>
#include <stdio.h>

#include <cstdio>

#include "platform/files.h"
#include "platform/stdio_stream.h"
#include "platform/win32/windows_min.h"

namespace platform {

namespace {

HANDLE handleOf(FileHandle f) { return reinterpret_cast<HANDLE>(f); }

class Win32Files final : public FileApi {
 public:
  FileHandle openForRead(const char16_t* path) override {
    HANDLE h = ::CreateFileW(win32::wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    return h == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(h);
  }

  FileHandle createForWrite(const char16_t* path) override {
    HANDLE h = ::CreateFileW(win32::wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             CREATE_ALWAYS, 0, nullptr);
    return h == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(h);
  }

  bool read(FileHandle f, void* buffer, std::uint32_t size, std::uint32_t& got) override {
    got = 0;
    auto* out = static_cast<char*>(buffer);
    while (got < size) {
      DWORD n = 0;
      if (!::ReadFile(handleOf(f), out + got, size - got, &n, nullptr)) return false;
      if (n == 0) break;
      got += n;
    }
    return true;
  }

  bool write(FileHandle f, const void* data, std::uint32_t size) override {
    const auto* in = static_cast<const char*>(data);
    std::uint32_t done = 0;
    while (done < size) {
      DWORD n = 0;
      // WriteFile may write fewer bytes than asked: go on until all are out.
      if (!::WriteFile(handleOf(f), in + done, size - done, &n, nullptr) || n == 0) return false;
      done += n;
    }
    return true;
  }

  bool seek(FileHandle f, std::uint64_t offset) override {
    LONG high = static_cast<LONG>(offset >> 32);
    const DWORD low = ::SetFilePointer(handleOf(f), static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    if (low == INVALID_SET_FILE_POINTER && ::GetLastError() != NO_ERROR) return false;
    return ((std::uint64_t{static_cast<DWORD>(high)} << 32) | low) == offset;
  }

  bool size(FileHandle f, std::uint64_t& bytes) override {
    DWORD high = 0;
    const DWORD low = ::GetFileSize(handleOf(f), &high);
    if (low == INVALID_FILE_SIZE && ::GetLastError() != NO_ERROR) return false;
    bytes = (std::uint64_t{high} << 32) | low;
    return true;
  }

  bool flushToDisk(FileHandle f) override { return ::FlushFileBuffers(handleOf(f)) != 0; }

  bool close(FileHandle f) override { return ::CloseHandle(handleOf(f)) != 0; }

  bool remove(const char16_t* path) override { return ::DeleteFileW(win32::wide(path)) != 0; }

  // NTFS records the new name with the file's metadata; nothing to do here.
  bool syncParentDirectory(const char16_t*) override { return true; }

  Stream* streamOpen(const char16_t* path, char* buffer, std::size_t bufferSize) override {
    // The wide open: the narrow one would go through the ANSI code page.
    return stdio::adopt(::_wfopen(win32::wide(path), L"wb+"), buffer, bufferSize);
  }

  std::size_t streamWrite(Stream* s, const void* data, std::size_t size) override {
    return stdio::write(s, data, size);
  }

  std::size_t streamRead(Stream* s, void* buffer, std::size_t size) override {
    return stdio::read(s, buffer, size);
  }

  bool streamSeek(Stream* s, std::uint64_t offset) override {
    return ::_fseeki64(s->file, static_cast<__int64>(offset), SEEK_SET) == 0;
  }

  bool streamFlushToDisk(Stream* s) override {
    if (!stdio::drain(s)) return false;
    HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(s->file)));
    return h != INVALID_HANDLE_VALUE && ::FlushFileBuffers(h) != 0;
  }

  bool streamClose(Stream* s) override { return stdio::close(s); }
};

}  // namespace

FileApi& nativeFiles() {
  static Win32Files api;
  return api;
}

}  // namespace platform
