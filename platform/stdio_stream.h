#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/files.h"

// The parts of the C stream services that both back ends share; only the
// open by path, the 64-bit seek and the flush to disk differ by system.
namespace platform {

struct Stream {
  std::FILE* file;
};

namespace stdio {

// Wraps an open C stream with `buffer` as its full buffer; closes the stream
// and returns null when that fails.
Stream* adopt(std::FILE* file, char* buffer, std::size_t bufferSize);
std::size_t write(Stream* s, const void* data, std::size_t size);
std::size_t read(Stream* s, void* buffer, std::size_t size);
// Hands the buffered bytes to the system; false when any write failed.
bool drain(Stream* s);
// Releases the stream; false when the close or an earlier write failed.
bool close(Stream* s);

}  // namespace stdio
}  // namespace platform
