#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/files.h"

// A small AVI file layer over a buffered C stream it is given (and does not
// close): a fixed 228-byte header at open, one "00dc" chunk per frame, and
// at completion an "idx1" index of the chunks and the header again with its
// sizes filled in.

struct AviMainHeader {
  std::uint32_t microSecPerFrame = 0;
  std::uint32_t maxBytesPerSec = 0;
  std::uint32_t paddingGranularity = 0;
  std::uint32_t flags = 0;
  std::uint32_t totalFrames = 0;
  std::uint32_t initialFrames = 0;
  std::uint32_t streams = 0;
  std::uint32_t suggestedBufferSize = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t reserved[4] = {};
};

struct AviFile {
  static constexpr std::uint32_t kHeaderSize = 228;
  static constexpr std::uint32_t kMainHeaderSize = 56;
  static constexpr std::uint32_t kFlagHasIndex = 0x10;
  static constexpr std::uint32_t kStreamBufferSize = 16384;
  // How much written data the system is left to hold before it is told to
  // start writing it to the disk.
  static constexpr std::uint64_t kWriteBackStep = 4 * 1024 * 1024;

  platform::Stream* stream = nullptr;
  AviMainHeader mainHeader;
  std::uint32_t moviListOffset = 216;
  std::uint32_t mainHeaderOffset = 24;
  char indexChunkId[4] = {};
  // The offset where the next chunk goes; 64-bit so that a limit check can
  // see a 32-bit field about to wrap.
  std::uint64_t runningLength = 0;
  std::uint64_t writtenBack = 0;
  bool completed = false;
  char chunkId[4] = {};
  std::uint32_t chunkSize = 0;
  std::uint32_t expected = 0;
  unsigned char header[kHeaderSize] = {};
  // Each chunk's padded size, for the index.
  std::vector<std::uint32_t> chunkSizes;
};

struct AviStream {
  AviFile* owner = nullptr;
  char type[4] = {'v', 'i', 'd', 's'};
  char handler[4] = {'M', 'J', 'P', 'G'};
  std::uint16_t number = 0;
};

// Writes the header of a new file into `stream`. Null on failure (a short
// write, or no memory for the record).
std::unique_ptr<AviFile> aviOpenFile(std::uint32_t width, std::uint32_t height, std::uint32_t framesPerSecond,
                                     platform::Stream* stream);

// Adds the video stream; null when the record cannot be allocated.
std::unique_ptr<AviStream> aviAddStream(AviFile* file);

// Whether a frame of `length` bytes can be added without making a 32-bit
// size or offset of the file wrap.
bool aviFrameFits(const AviFile* file, std::uint32_t length);

// Appends one frame as a chunk padded to an even size. False when a write
// came up short, or when the frame does not fit (nothing is written then).
bool aviWriteFrame(AviStream* stream, const void* data, std::uint32_t length);

// Patches the sizes and the main header and appends the index; the stream
// stays open. False when any step failed.
bool aviCompleteFile(AviFile* file);
