#include "platform/stdio_stream.h"

#include <new>

namespace platform::stdio {

Stream* adopt(std::FILE* file, char* buffer, std::size_t bufferSize) {
  if (!file) return nullptr;
  if (std::setvbuf(file, buffer, _IOFBF, bufferSize) != 0) {
    std::fclose(file);
    return nullptr;
  }
  auto* stream = new (std::nothrow) Stream{file};
  if (!stream) std::fclose(file);
  return stream;
}

std::size_t write(Stream* s, const void* data, std::size_t size) { return std::fwrite(data, 1, size, s->file); }

std::size_t read(Stream* s, void* buffer, std::size_t size) { return std::fread(buffer, 1, size, s->file); }

bool drain(Stream* s) { return std::fflush(s->file) == 0 && !std::ferror(s->file); }

bool close(Stream* s) {
  const bool clean = !std::ferror(s->file);
  const bool closed = std::fclose(s->file) == 0;
  delete s;
  return clean && closed;
}

}  // namespace platform::stdio
