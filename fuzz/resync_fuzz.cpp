// Reads an archive for salvage: a stream header of the codec the first byte
// picks, then the fuzzer's bytes, in small refills. Besides memory errors it
// checks what the search promises: every frame delivered checks out for
// its session's codec, no byte is both delivered and skipped, and the
// second pass over the plan of the first delivers the very same frames.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/avd_reader.h"
#include "archive/record_check.h"
#include "tests/support/avd_builder.h"
#include "tests/support/memory_files.h"
#include "archive/stream_header.h"

namespace {

struct Delivered {
  int kind;
  std::string payload;
};

// Every frame, and each new session's header (empty in a replay, which
// tells only where a session begins).
std::vector<Delivered> readAll(AvdReader& reader, std::uint32_t codec, bool replay, std::uint64_t& bytes) {
  std::vector<Delivered> frames;
  xtd::strview out;
  std::uint32_t ticks = 0;
  RecordCheck check;
  check.codec = codec;
  for (int kind; (kind = reader.nextFrame(out, &ticks)) != -1;) {
    if (replay) {
      // Compared with the first pass below.
    } else if (kind == AvdReader::kNewSessionKind) {
      if (!plausibleStreamHeader(out) || !readCodec(out, check.codec)) std::abort();
    } else if (!check.payload(reader.record().type, out)) {
      std::abort();
    }
    bytes += AvdRecordHeader::kSize + out.length;
    frames.push_back({kind, std::string(out.data, out.length)});
  }
  return frames;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::u16string archive = u"/in/cam.avd";
  avdtest::AvdBuilder b;
  const bool h264 = data[0] & 1;
  if (h264) {
    b.h264Header(std::string("\x67\x42\xc0\x0d", 4), std::string("\x68\xcb\x83\xcb", 4));
  } else {
    b.mjpegHeader(25, 320, 240);
  }
  const std::uint64_t headerSize = b.bytes().size();
  b.raw(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
  avdtest::MemoryFiles disk;
  disk.put(archive, b.bytes());
  platform::setFilesForTesting(&disk);

  AvdReader reader;
  reader.setChunkForTesting(64 + static_cast<std::uint32_t>(size % 61));
  if (reader.openArchive(xtd::wstrview(archive.data(), static_cast<std::uint32_t>(archive.size())))) {
    xtd::strview header;
    const AvdRecordHeader* h = reader.readRecord(header);
    if (!h) std::abort();
    const std::uint32_t codec = h264 ? StreamHeader::kH264 : StreamHeader::kMjpeg;
    reader.salvageFrom(header, h->seconds);
    std::uint64_t delivered = 0, again = 0;
    const std::vector<Delivered> first = readAll(reader, codec, false, delivered);
    if (headerSize + delivered + reader.skipped().bytes > b.bytes().size()) std::abort();
    reader.replaySalvage();
    const std::vector<Delivered> second = readAll(reader, codec, true, again);
    // The replay tells a new session without its header.
    if (second.size() != first.size()) std::abort();
    for (std::size_t i = 0; i < first.size(); ++i) {
      if (first[i].kind != second[i].kind) std::abort();
      if (first[i].kind != AvdReader::kNewSessionKind && first[i].payload != second[i].payload) std::abort();
    }
  }
  platform::setFilesForTesting(nullptr);
  return 0;
}
