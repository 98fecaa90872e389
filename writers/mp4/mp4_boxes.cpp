#include "writers/mp4/mp4_boxes.h"

#include <algorithm>
#include <cstring>

#include "platform/fatal.h"
#include "writers/h264/avc_config.h"
#include "xtd/byte_order.h"
#include "xtd/dstring.h"

namespace {

constexpr std::uint32_t kMovieTimescale = 1000;
constexpr std::int64_t kSecondsFrom1904To1970 = 2082844800;
constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;
constexpr std::uint32_t kFixedOne = 0x00010000;  // 1.0 in 16.16
constexpr std::uint32_t kUnityMatrix[9] = {kFixedOne, 0, 0, 0, kFixedOne, 0, 0, 0, 0x40000000};
constexpr char kHandlerName[] = "Video";  // written with its terminator
constexpr std::uint32_t kFtypSize = 32;
constexpr std::uint32_t kVmhdSize = 20;
constexpr std::uint32_t kDinfSize = 36;
constexpr std::uint32_t kAvc1FieldsSize = 86;  // the box header and fields before avcC
constexpr std::uint32_t kHdlrSize = 32 + sizeof kHandlerName;

// Sizes and choices of every box, from the index alone.
struct Layout {
  std::uint64_t creation1904 = 0;
  std::uint64_t durationMs = 0;
  std::uint64_t durationUs = 0;
  bool movieV1 = false, mediaV1 = false;
  std::uint32_t chunks = 0, stscEntries = 0;
  bool co64 = false, largeMdat = false;
  std::uint32_t avcC = 0, avc1 = 0, stsd = 0, stts = 0, ctts = 0, stss = 0, stsc = 0, stsz = 0, stco = 0;
  std::uint32_t stbl = 0, minf = 0, mdhd = 0, mdia = 0, tkhd = 0, trak = 0, mvhd = 0, moov = 0;
  std::uint64_t head = 0;

  void sumUp() {
    stco = 16 + (co64 ? 8 : 4) * chunks;
    stbl = 8 + stsd + stts + ctts + stss + stsc + stsz + stco;
    minf = 8 + kVmhdSize + kDinfSize + stbl;
    mdia = 8 + mdhd + kHdlrSize + minf;
    trak = 8 + tkhd + mdia;
    moov = 8 + mvhd + trak;
    head = kFtypSize + std::uint64_t{moov} + (largeMdat ? 16 : 8);
  }
};

Layout layoutOf(const Mp4Index& index, const Mp4Track& track) {
  Layout l;
  const std::uint32_t n = index.count();
  const std::int64_t seconds = index.firstCaptureMicros() / 1000000 - (index.firstCaptureMicros() % 1000000 < 0);
  l.creation1904 = static_cast<std::uint64_t>(std::max<std::int64_t>(0, seconds + kSecondsFrom1904To1970));
  l.durationUs = index.durationMicros();
  l.durationMs = (l.durationUs + 500) / 1000;
  l.movieV1 = l.creation1904 > kMax32 || l.durationMs > kMax32;
  l.mediaV1 = l.creation1904 > kMax32 || l.durationUs > kMax32;
  l.mvhd = l.movieV1 ? 120 : 108;
  l.tkhd = l.movieV1 ? 104 : 92;
  l.mdhd = l.mediaV1 ? 44 : 32;

  l.avcC = 8 + avcDecoderConfigurationSize(track.sps, track.pps);
  l.avc1 = kAvc1FieldsSize + l.avcC;
  l.stsd = 16 + l.avc1;
  l.stts = 16 + 8 * index.durationRuns();
  l.ctts = index.hasComposition() ? 16 + 8 * index.compositionRuns() : 0;
  l.stss = index.syncCount() == n ? 0 : 16 + 4 * index.syncCount();
  l.chunks = (n + kMp4SamplesPerChunk - 1) / kMp4SamplesPerChunk;
  l.stscEntries = n == 0 ? 0 : n > kMp4SamplesPerChunk && n % kMp4SamplesPerChunk != 0 ? 2 : 1;
  l.stsc = 16 + 12 * l.stscEntries;
  l.stsz = 20 + 4 * n;
  l.largeMdat = index.dataSize() + 8 > kMax32;
  l.sumUp();

  // 64-bit offsets only grow the head, so an offset past 4 GiB stays past it.
  std::uint64_t lastChunk = index.dataSize();
  for (std::uint32_t i = (l.chunks == 0 ? 0 : (l.chunks - 1) * kMp4SamplesPerChunk); i < n; ++i) {
    lastChunk -= index.size(i);
  }
  l.co64 = l.chunks != 0 && l.head + lastChunk > kMax32;
  l.sumUp();
  return l;
}

// Big-endian fields into a buffer of at most kMp4HeadPieceSize bytes (the
// decoder configuration aside), handed to the sink whenever the next field
// would not fit.
class HeadWriter {
 public:
  explicit HeadWriter(const std::function<bool(const char*, std::size_t)>& sink) : sink_(sink) {
    buffer_.reserve(kMp4HeadPieceSize);
  }

  bool ok() const { return ok_; }
  std::uint64_t written() const { return written_; }

  void u16(std::uint32_t v) { xtd::store_be16(put(2), static_cast<std::uint16_t>(v)); }
  void u32(std::uint64_t v) { xtd::store_be32(put(4), static_cast<std::uint32_t>(v)); }
  void u64(std::uint64_t v) { xtd::store_be64(put(8), v); }
  // A 64-bit field in a version 1 box, a 32-bit one in version 0.
  void field(bool v1, std::uint64_t v) { v1 ? u64(v) : u32(v); }
  void bytes(const char* data, std::uint32_t n) { std::memcpy(put(n), data, n); }
  void type(const char* fourcc) { bytes(fourcc, 4); }
  void zeros(std::uint32_t n) { std::memset(put(n), 0, n); }
  void box(std::uint32_t size, const char* fourcc) {
    u32(size);
    type(fourcc);
  }
  void fullBox(std::uint32_t size, const char* fourcc, std::uint32_t version, std::uint32_t flags) {
    box(size, fourcc);
    u32(version << 24 | flags);
  }
  void avcDecoderConfiguration(const Mp4Track& track) {
    flush();
    appendAvcDecoderConfiguration(buffer_, track.sps, track.pps);
  }

  // Hands the buffer over in pieces of at most kMp4HeadPieceSize bytes.
  void flush() {
    for (std::uint32_t at = 0; ok_ && at < buffer_.length(); at += kMp4HeadPieceSize) {
      ok_ = sink_(buffer_.data() + at, std::min<std::size_t>(kMp4HeadPieceSize, buffer_.length() - at));
    }
    written_ += buffer_.length();
    buffer_.clear();
  }

 private:
  char* put(std::uint32_t n) {
    if (buffer_.length() + n > kMp4HeadPieceSize) flush();
    return buffer_.extend(n);
  }

  const std::function<bool(const char*, std::size_t)>& sink_;
  xtd::dstring buffer_;
  std::uint64_t written_ = 0;
  bool ok_ = true;
};

void writeHeaderTimes(HeadWriter& w, bool v1, const Layout& l) {
  w.field(v1, l.creation1904);  // creation
  w.field(v1, l.creation1904);  // modification
}

void writeMatrix(HeadWriter& w) {
  for (std::uint32_t v : kUnityMatrix) w.u32(v);
}

void writeMovieHeader(HeadWriter& w, const Layout& l) {
  w.fullBox(l.mvhd, "mvhd", l.movieV1, 0);
  writeHeaderTimes(w, l.movieV1, l);
  w.u32(kMovieTimescale);
  w.field(l.movieV1, l.durationMs);
  w.u32(kFixedOne);  // rate
  w.u16(0x0100);     // volume
  w.zeros(10);
  writeMatrix(w);
  w.zeros(24);
  w.u32(2);  // next track id
}

void writeTrackHeader(HeadWriter& w, const Layout& l, std::uint32_t width, std::uint32_t height) {
  w.fullBox(l.tkhd, "tkhd", l.movieV1, 0x7);  // enabled, in movie, in preview
  writeHeaderTimes(w, l.movieV1, l);
  w.u32(1);  // track id
  w.u32(0);
  w.field(l.movieV1, l.durationMs);
  w.zeros(16);  // reserved, layer, alternate group, volume, reserved
  writeMatrix(w);
  w.u32(width << 16);
  w.u32(height << 16);
}

void writeMediaHeaders(HeadWriter& w, const Layout& l) {
  w.fullBox(l.mdhd, "mdhd", l.mediaV1, 0);
  writeHeaderTimes(w, l.mediaV1, l);
  w.u32(Mp4Index::kTimescale);
  w.field(l.mediaV1, l.durationUs);
  w.u16(('u' - 0x60) << 10 | ('n' - 0x60) << 5 | ('d' - 0x60));  // language "und"
  w.u16(0);
  w.fullBox(kHdlrSize, "hdlr", 0, 0);
  w.u32(0);
  w.type("vide");
  w.zeros(12);
  w.bytes(kHandlerName, sizeof kHandlerName);
}

void writeSampleDescription(HeadWriter& w, const Layout& l, const Mp4Track& track, std::uint32_t width,
                            std::uint32_t height) {
  w.fullBox(l.stsd, "stsd", 0, 0);
  w.u32(1);
  w.box(l.avc1, "avc1");
  w.zeros(6);
  w.u16(1);  // data reference index
  w.zeros(16);
  w.u16(width);
  w.u16(height);
  w.u32(0x00480000);  // 72 dpi
  w.u32(0x00480000);
  w.u32(0);
  w.u16(1);  // frames per sample
  w.zeros(32);
  w.u16(0x18);    // depth
  w.u16(0xFFFF);  // pre_defined -1
  w.box(l.avcC, "avcC");
  w.avcDecoderConfiguration(track);
}

void writeTimeTables(HeadWriter& w, const Layout& l, const Mp4Index& index) {
  const std::uint32_t n = index.count();
  w.fullBox(l.stts, "stts", 0, 0);
  w.u32(index.durationRuns());
  for (std::uint32_t i = 0; i < n && w.ok();) {
    std::uint32_t end = i + 1;
    while (end < n && index.duration(end) == index.duration(i)) ++end;
    w.u32(end - i);
    w.u32(index.duration(i));
    i = end;
  }
  if (index.hasComposition()) {
    w.fullBox(l.ctts, "ctts", index.hasNegativeComposition() ? 1 : 0, 0);
    w.u32(index.compositionRuns());
    for (std::uint32_t i = 0; i < n && w.ok();) {
      std::uint32_t end = i + 1;
      while (end < n && index.compositionMicros(end) == index.compositionMicros(i)) ++end;
      w.u32(end - i);
      w.u32(static_cast<std::uint32_t>(index.compositionMicros(i)));
      i = end;
    }
  }
  if (l.stss != 0) {
    w.fullBox(l.stss, "stss", 0, 0);
    w.u32(index.syncCount());
    for (std::uint32_t i = 0; i < n && w.ok(); ++i) {
      if (index.sync(i)) w.u32(i + 1);
    }
  }
}

void writeLocationTables(HeadWriter& w, const Layout& l, const Mp4Index& index) {
  const std::uint32_t n = index.count();
  w.fullBox(l.stsc, "stsc", 0, 0);
  w.u32(l.stscEntries);
  if (l.stscEntries != 0) {
    w.u32(1);  // first chunk
    w.u32(std::min(n, kMp4SamplesPerChunk));
    w.u32(1);  // sample description
  }
  if (l.stscEntries == 2) {
    w.u32(l.chunks);
    w.u32(n % kMp4SamplesPerChunk);
    w.u32(1);
  }
  w.fullBox(l.stsz, "stsz", 0, 0);
  w.u32(0);  // sizes differ
  w.u32(n);
  for (std::uint32_t i = 0; i < n && w.ok(); ++i) w.u32(index.size(i));

  w.fullBox(l.stco, l.co64 ? "co64" : "stco", 0, 0);
  w.u32(l.chunks);
  std::uint64_t offset = l.head;
  for (std::uint32_t i = 0; i < n && w.ok(); ++i) {
    if (i % kMp4SamplesPerChunk == 0) w.field(l.co64, offset);
    offset += index.size(i);
  }
}

}  // namespace

std::uint64_t mp4HeadSize(const Mp4Index& index, const Mp4Track& track) { return layoutOf(index, track).head; }

bool writeMp4Head(const Mp4Index& index, const Mp4Track& track,
                  const std::function<bool(const char*, std::size_t)>& sink) {
  if (track.sps.length > kMaxAvcParameterSetSize || track.pps.length > kMaxAvcParameterSetSize) return false;
  const Layout l = layoutOf(index, track);
  const std::uint32_t width = std::min<std::uint32_t>(track.width, 0xFFFF);
  const std::uint32_t height = std::min<std::uint32_t>(track.height, 0xFFFF);
  HeadWriter w(sink);

  w.box(kFtypSize, "ftyp");
  w.type("isom");
  w.u32(512);
  for (const char* brand : {"isom", "iso2", "avc1", "mp41"}) w.type(brand);

  w.box(l.moov, "moov");
  writeMovieHeader(w, l);
  w.box(l.trak, "trak");
  writeTrackHeader(w, l, width, height);
  w.box(l.mdia, "mdia");
  writeMediaHeaders(w, l);
  w.box(l.minf, "minf");
  w.fullBox(kVmhdSize, "vmhd", 0, 1);
  w.zeros(8);  // graphics mode, colour
  w.box(kDinfSize, "dinf");
  w.fullBox(kDinfSize - 8, "dref", 0, 0);
  w.u32(1);
  w.fullBox(12, "url ", 0, 1);  // the data is in this file
  w.box(l.stbl, "stbl");
  writeSampleDescription(w, l, track, width, height);
  writeTimeTables(w, l, index);
  writeLocationTables(w, l, index);

  if (l.largeMdat) {
    w.box(1, "mdat");
    w.u64(index.dataSize() + 16);
  } else {
    w.box(static_cast<std::uint32_t>(index.dataSize() + 8), "mdat");
  }
  w.flush();
  if (w.ok() && w.written() != l.head) platform::fatalError("MP4 head size differs from its layout");
  return w.ok();
}
