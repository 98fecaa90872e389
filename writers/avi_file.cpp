#include "writers/avi_file.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "xtd/byte_order.h"

namespace {

void putTag(unsigned char* p, const char (&tag)[5]) { std::memcpy(p, tag, 4); }

// The constant part of the header; the four variable fields are filled per file.
struct HeaderTemplate {
  unsigned char bytes[AviFile::kHeaderSize] = {};
  constexpr HeaderTemplate() = default;
};

HeaderTemplate makeTemplate() {
  HeaderTemplate t;
  unsigned char* h = t.bytes;
  putTag(h + 0, "RIFF");
  putTag(h + 8, "AVI ");
  putTag(h + 12, "LIST");
  xtd::store_le32(h + 16, 196);
  putTag(h + 20, "hdrl");
  putTag(h + 24, "avih");
  xtd::store_le32(h + 28, 56);
  xtd::store_le32(h + 44, AviFile::kFlagHasIndex);
  putTag(h + 88, "LIST");
  xtd::store_le32(h + 92, 120);
  putTag(h + 96, "strl");
  putTag(h + 100, "strh");
  xtd::store_le32(h + 104, 56);
  putTag(h + 108, "vids");
  putTag(h + 112, "MJPG");
  xtd::store_le32(h + 128, 1);  // scale: the rate is in frames per second
  putTag(h + 164, "strf");
  xtd::store_le32(h + 168, 44);
  xtd::store_le32(h + 172, 40);
  xtd::store_le16(h + 184, 1);   // planes
  xtd::store_le16(h + 186, 24);  // bits per pixel
  putTag(h + 188, "MJPG");
  putTag(h + 216, "LIST");
  putTag(h + 224, "movi");
  return t;
}

const HeaderTemplate& headerTemplate() {
  static const HeaderTemplate t = makeTemplate();
  return t;
}

void serialiseMainHeader(const AviMainHeader& m, unsigned char* out) {
  const std::uint32_t fields[14] = {m.microSecPerFrame, m.maxBytesPerSec, m.paddingGranularity, m.flags,
                                    m.totalFrames,      m.initialFrames,  m.streams,            m.suggestedBufferSize,
                                    m.width,            m.height,         m.reserved[0],        m.reserved[1],
                                    m.reserved[2],      m.reserved[3]};
  for (int i = 0; i < 14; ++i) xtd::store_le32(out + 4 * i, fields[i]);
}

// Writes everything completion adds to the file: the index after the last
// chunk, where the stream stands, then the header again with its sizes and
// main header filled in, in one piece.
bool patchAndIndex(AviFile* file) {
  platform::FileApi& fs = platform::files();
  platform::Stream* s = file->stream;
  AviMainHeader& main = file->mainHeader;
  main.flags |= AviFile::kFlagHasIndex;
  const std::uint32_t frames = main.totalFrames;
  const std::uint64_t moviEnd = file->runningLength;
  if (file->chunkSizes.size() != frames) return false;

  unsigned char entry[16];
  putTag(entry, "idx1");
  xtd::store_le32(entry + 4, 16 * frames);
  if (fs.streamWrite(s, entry, 8) != 8) return false;
  file->runningLength += 8;
  std::uint32_t offset = AviFile::kHeaderSize;
  for (std::uint32_t size : file->chunkSizes) {
    std::memcpy(entry, file->indexChunkId, 4);
    xtd::store_le32(entry + 4, 0);
    xtd::store_le32(entry + 8, offset);
    xtd::store_le32(entry + 12, size);
    if (fs.streamWrite(s, entry, 16) != 16) return false;
    offset += size + 8;
    file->runningLength += 16;
  }

  unsigned char* h = file->header;
  xtd::store_le32(h + 4, static_cast<std::uint32_t>(moviEnd + 16ull * frames));
  xtd::store_le32(h + file->moviListOffset + 4, static_cast<std::uint32_t>(moviEnd - file->moviListOffset - 8));
  serialiseMainHeader(main, h + file->mainHeaderOffset + 8);
  return fs.streamSeek(s, 0) && fs.streamWrite(s, h, AviFile::kHeaderSize) == AviFile::kHeaderSize;
}

}  // namespace

std::unique_ptr<AviFile> aviOpenFile(std::uint32_t width, std::uint32_t height, std::uint32_t framesPerSecond,
                                     platform::Stream* stream) {
  std::unique_ptr<AviFile> file(new (std::nothrow) AviFile);
  if (!file) {
    platform::setLastFileError(platform::simulatedError(platform::SystemError::Kind::OutOfMemory));
    return nullptr;
  }
  file->stream = stream;
  file->mainHeader = AviMainHeader{};
  file->mainHeader.flags = AviFile::kFlagHasIndex;

  // Filled in a buffer of this file's own: writers run in parallel. It is
  // written again, completed, at the end.
  unsigned char* header = file->header;
  std::memcpy(header, headerTemplate().bytes, AviFile::kHeaderSize);
  xtd::store_le32(header + 132, framesPerSecond);
  xtd::store_le16(header + 160, static_cast<std::uint16_t>(width));
  xtd::store_le16(header + 162, static_cast<std::uint16_t>(height));
  xtd::store_le32(header + 176, width);
  xtd::store_le32(header + 180, height);
  if (platform::files().streamWrite(stream, header, AviFile::kHeaderSize) != AviFile::kHeaderSize) {
    return nullptr;
  }
  file->runningLength = AviFile::kHeaderSize;
  return file;
}

std::unique_ptr<AviStream> aviAddStream(AviFile* file) {
  std::unique_ptr<AviStream> stream(new (std::nothrow) AviStream);
  if (!stream) return nullptr;
  stream->owner = file;
  stream->number = static_cast<std::uint16_t>(file->mainHeader.streams++);
  const bool video = std::memcmp(stream->type, "vids", 4) == 0;
  const char id[4] = {'0', static_cast<char>('0' + stream->number), video ? 'd' : 'w', video ? 'c' : 'b'};
  std::memcpy(file->indexChunkId, id, 4);
  std::memcpy(file->chunkId, id, 4);
  return stream;
}

bool aviFrameFits(const AviFile* file, std::uint32_t length) {
  // Every size and offset of the file is 32-bit: the RIFF size (movi data
  // plus the index to come) must not wrap.
  const std::uint64_t moviEnd = file->runningLength + 8 + length + (length & 1u);
  const std::uint64_t frames = std::uint64_t{file->mainHeader.totalFrames} + 1;
  return moviEnd + 16 * frames + 8 <= 0xFFFFFFFFull;
}

bool aviWriteFrame(AviStream* stream, const void* data, std::uint32_t length) {
  AviFile* file = stream->owner;
  if (!aviFrameFits(file, length)) return false;
  const std::uint32_t padded = length + (length & 1u);
  const std::uint64_t moviEnd = file->runningLength + 8 + padded;

  platform::FileApi& fs = platform::files();
  // Kept for the index: 4 bytes a frame, never read back from the file.
  file->chunkSizes.push_back(padded);
  file->chunkSize = padded;
  file->expected = padded;
  file->mainHeader.totalFrames += 1;
  unsigned char chunkHeader[8];
  std::memcpy(chunkHeader, file->chunkId, 4);
  xtd::store_le32(chunkHeader + 4, padded);
  if (fs.streamWrite(file->stream, chunkHeader, 8) != 8) return false;
  std::size_t written = length == 0 ? 0 : fs.streamWrite(file->stream, data, length);
  if (length & 1u) {
    const unsigned char pad = 0;
    written += fs.streamWrite(file->stream, &pad, 1);
  }
  if (written != padded) return false;
  file->runningLength = moviEnd;
  if (moviEnd - file->writtenBack >= AviFile::kWriteBackStep) {
    fs.streamStartWriteBack(file->stream, file->writtenBack, moviEnd - file->writtenBack);
    file->writtenBack = moviEnd;
  }
  return true;
}

bool aviCompleteFile(AviFile* file) {
  if (!file || file->completed) return false;
  file->completed = patchAndIndex(file);
  return file->completed;
}
