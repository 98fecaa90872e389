#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// A native file: a HANDLE on Windows, a descriptor on POSIX.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

// A buffered C runtime stream (FILE) opened by this layer.
struct Stream;

// Every file operation of the program goes through one FileApi, so that
// tests can interpose faults. Paths are zero-terminated UTF-16. Each
// operation reports failure; none throws.
class FileApi {
 public:
  virtual ~FileApi() = default;

  // Opens an existing file for reading; other programs may go on reading
  // and writing it, but not delete it.
  virtual FileHandle openForRead(const char16_t* path) = 0;
  // Creates a file for writing, truncating one that exists.
  virtual FileHandle createForWrite(const char16_t* path) = 0;
  // Reads up to `size` bytes; `got` < `size` without failure means the end.
  virtual bool read(FileHandle f, void* buffer, std::uint32_t size, std::uint32_t& got) = 0;
  // Writes all `size` bytes or fails.
  virtual bool write(FileHandle f, const void* data, std::uint32_t size) = 0;
  // Moves to an absolute offset.
  virtual bool seek(FileHandle f, std::uint64_t offset) = 0;
  virtual bool size(FileHandle f, std::uint64_t& bytes) = 0;
  // Returns once the file's data has reached stable storage.
  virtual bool flushToDisk(FileHandle f) = 0;
  // Releases the handle in every case; false reports a failed close.
  virtual bool close(FileHandle f) = 0;
  virtual bool remove(const char16_t* path) = 0;
  // Makes the names created in or removed from the directory holding `path`
  // durable (a no-op where the system does that with the file's own flush).
  virtual bool syncParentDirectory(const char16_t* path) = 0;

  // A read-write C stream (mode "wb+": created or truncated) with `buffer`
  // as its full buffer. Null on failure.
  virtual Stream* streamOpen(const char16_t* path, char* buffer, std::size_t bufferSize) = 0;
  virtual std::size_t streamWrite(Stream* s, const void* data, std::size_t size) = 0;
  virtual std::size_t streamRead(Stream* s, void* buffer, std::size_t size) = 0;
  // Moves to an absolute offset (64-bit).
  virtual bool streamSeek(Stream* s, std::uint64_t offset) = 0;
  // Drains the stream's buffer and returns once the data is on stable storage.
  virtual bool streamFlushToDisk(Stream* s) = 0;
  // Releases the stream in every case; false reports an error seen by the close.
  virtual bool streamClose(Stream* s) = 0;
};

// The system's own file services.
FileApi& nativeFiles();

// The services in use: the native ones unless a test installed others.
FileApi& files();

// Test seam: routes every file operation through `api` from now on; null
// restores the native services. Not for use while files are open.
void setFilesForTesting(FileApi* api);

}  // namespace platform
