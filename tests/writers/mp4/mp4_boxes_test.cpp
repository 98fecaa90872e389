#include "writers/mp4/mp4_boxes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "xtd/byte_order.h"

namespace {

constexpr std::int64_t kBaseMicros = 1700000000000000;
const std::string kSps("\x67\x64\x00\x1f\xac", 5), kPps("\x68\xee", 2);
const Mp4Track kTrack{{kSps.data(), 5}, {kPps.data(), 2}, 1920, 1080};

struct Span { std::size_t at, size; };  // a box's payload
using Boxes = std::map<std::string, Span>;

std::uint64_t be(const std::string& b, std::size_t at, bool wide = false) {
  return wide ? xtd::load_be64(b.data() + at) : xtd::load_be32(b.data() + at);
}

// Walks the boxes in [begin, end): each lies inside its parent and the
// children fill it exactly. The head ends with the mdat header; types are
// unique in a one-track head.
bool walk(const std::string& b, std::size_t begin, std::size_t end, Boxes& out) {
  static const std::map<std::string, std::size_t> kChildrenAt = {{"moov", 0}, {"trak", 0}, {"mdia", 0},
      {"minf", 0}, {"dinf", 0}, {"stbl", 0}, {"dref", 8}, {"stsd", 8}, {"avc1", 78}};
  while (begin != end) {
    const std::size_t header = end - begin >= 8 && be(b, begin) == 1 ? 16 : 8;
    if (end - begin < header) return false;
    const std::uint64_t size = header == 16 ? be(b, begin + 8, true) : be(b, begin);
    const std::string type = b.substr(begin + 4, 4);
    if (size < header || out.count(type) != 0) return false;
    out[type] = {begin + header, static_cast<std::size_t>(size - header)};
    if (type == "mdat") return begin + header == end;
    const auto children = kChildrenAt.find(type);
    if (size > end - begin ||
        (children != kChildrenAt.end() && !walk(b, begin + header + children->second, begin + size, out))) {
      return false;
    }
    begin += size;
  }
  return true;
}

// Expands a table of (count, value) runs.
std::vector<std::uint64_t> runs(const std::string& b, Span s) {
  std::vector<std::uint64_t> values;
  for (std::size_t e = 0; e < be(b, s.at + 4); ++e) {
    values.insert(values.end(), be(b, s.at + 8 + 8 * e), be(b, s.at + 12 + 8 * e));
  }
  return values;
}

// Reads the head back and holds its tables to the index.
void checkHead(const Mp4Index& index, const char* name) {
  SCOPED_TRACE(name);
  std::string b;
  ASSERT_TRUE(writeMp4Head(index, kTrack, [&b](const char* data, std::size_t n) {
    EXPECT_LE(n, kMp4HeadPieceSize);
    return b.append(data, n), true;
  }));
  ASSERT_EQ(b.size(), mp4HeadSize(index, kTrack));
  Boxes box;
  ASSERT_TRUE(walk(b, 0, b.size(), box));
  EXPECT_EQ(box["mdat"].size, index.dataSize());
  const std::uint32_t n = index.count();
  const bool nonZero = index.hasComposition();
  bool negative = false;
  ASSERT_EQ(box.count("ctts"), nonZero ? 1u : 0u);
  EXPECT_EQ(box.count("stss"), index.syncCount() == n ? 0u : 1u);
  const std::vector<std::uint64_t> durations = runs(b, box["stts"]);
  const std::vector<std::uint64_t> offsets = nonZero ? runs(b, box["ctts"]) : std::vector<std::uint64_t>(n);
  ASSERT_EQ(durations.size() * 2 + offsets.size(), 3 * n) << "one duration and one offset a sample";
  for (std::uint32_t i = 0; i < n; ++i) {
    EXPECT_EQ(durations[i], index.duration(i)) << i;
    EXPECT_EQ(static_cast<std::int32_t>(offsets[i]), index.compositionMicros(i)) << i;
    negative |= index.compositionMicros(i) < 0;
  }
  EXPECT_EQ(nonZero ? b[box["ctts"].at] : 0, negative ? 1 : 0) << "signed offsets need version 1";
  // Chunks from stsc, their offsets from stco or co64, held to the sizes in stsz.
  const bool co64 = box.count("co64") != 0;
  const Span offset = box[co64 ? "co64" : "stco"], stsc = box["stsc"], stsz = box["stsz"];
  ASSERT_EQ(be(b, stsz.at + 8), n);
  std::uint64_t sample = 0, at = b.size(), highest = 0;
  for (std::uint64_t e = 0, entries = be(b, stsc.at + 4); e < entries; ++e) {
    const std::uint64_t last = e + 1 < entries ? be(b, stsc.at + 20 + 12 * e) - 1 : be(b, offset.at + 4);
    for (std::uint64_t chunk = be(b, stsc.at + 8 + 12 * e); chunk <= last; ++chunk) {
      EXPECT_EQ(be(b, offset.at + 8 + (co64 ? 8 : 4) * (chunk - 1), co64), highest = at) << chunk;
      for (std::uint64_t k = be(b, stsc.at + 12 + 12 * e); k > 0 && sample < n; --k, ++sample) {
        EXPECT_EQ(be(b, stsz.at + 12 + 4 * sample), index.size(static_cast<std::uint32_t>(sample)));
        at += index.size(static_cast<std::uint32_t>(sample));
      }
    }
  }
  EXPECT_EQ(sample, n);
  EXPECT_EQ(co64, highest > 0xFFFFFFFFu) << "64-bit offsets when, and only when, one passes 4 GiB";
  xtd::store_be32(b.data() + stsz.at - 8, static_cast<std::uint32_t>(stsz.size + 12));  // one entry too long
  box.clear();
  EXPECT_FALSE(walk(b, 0, b.size(), box));
}

TEST(Mp4BoxesTest, HeadReadsBackAsTheIndex) {
  struct Shape { const char* name; std::uint32_t count, size, syncEvery; std::vector<std::int32_t> compositionMs; };
  const Shape shapes[] = {
      {"plain", 100, 1000, 1, {0}},
      {"b-frames", 70, 5000, 25, {80, 200, 40}},
      {"negative offsets", 40, 100, 10, {0, -40, 40, 0}},
      {"mdat past 4 GiB, one chunk", 32, 140u << 20, 1, {0}},
      {"chunks past 4 GiB", 40, 150u << 20, 1, {0}},
      {"empty", 0, 0, 1, {0}},
  };
  for (const Shape& s : shapes) {
    Mp4Index index;
    for (std::uint32_t i = 0; i < s.count; ++i) {
      index.add(s.size + i % 7, kBaseMicros + i * 40000 + i % 5 * 1000, s.compositionMs[i % s.compositionMs.size()],
                i % s.syncEvery == 0);
    }
    checkHead(index, s.name);
  }
}

TEST(Mp4BoxesTest, ADayAt25FpsFitsTheMemoryBudget) {
  Mp4Index index;
  for (std::uint32_t i = 0; i < 2160000; ++i) index.add(3000 + i % 500, kBaseMicros + i * 40000, 0, i % 50 == 0);
  std::printf("index: %.2f bytes per sample\n", static_cast<double>(index.memoryBytes()) / index.count());
  EXPECT_LT(index.memoryBytes(), 8.5 * index.count());
  checkHead(index, "a day");
  std::size_t pieces = 0;
  EXPECT_FALSE(writeMp4Head(index, kTrack, [&pieces](const char*, std::size_t) { return ++pieces < 3; }));
  EXPECT_EQ(pieces, 3u) << "nothing goes to a sink after it failed";
}

}  // namespace
