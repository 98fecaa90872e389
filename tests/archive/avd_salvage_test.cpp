// Salvage: damaged archives built record by record, read as the conversion
// reads them (first pass, then the replay an indexing writer asks for), and
// bytes that hold no archive fed to the search.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "archive/avd_reader.h"
#include "tests/support/avd_builder.h"
#include "tests/support/temp_dir.h"
#include "archive/stream_header.h"
#include "xtd/byte_order.h"

namespace {

using avdtest::AvdBuilder;
constexpr std::uint32_t kT = 1700000000;

// A frame that checks out: an FLV tag with two chained NAL units, or a JPEG.
std::string frame(bool h264, int id) {
  const std::string fill(40 + id * 13 % 97, static_cast<char>(id));
  if (!h264) return "\xFF\xD8\xFF" + fill + "\xFF\xD9";
  std::string body = std::string("\x27\x01\0\0\0", 5);
  for (const std::string& nal : {"\x06" + fill, "\x41" + fill + fill}) {
    body += std::string(4, '\0') + nal;
    xtd::store_be32(&body[body.size() - nal.size() - 4], static_cast<std::uint32_t>(nal.size()));
  }
  std::string tag = std::string(11, '\0') + body + std::string(4, '\0');
  tag[0] = 9;
  xtd::store_be24(&tag[1], static_cast<std::uint32_t>(body.size()));
  xtd::store_be32(&tag[tag.size() - 4], static_cast<std::uint32_t>(11 + body.size()));
  return tag;
}

std::string header(bool h264, int variant) {
  const std::string sps = std::string("\x67\x42\xc0", 3) + static_cast<char>(0x0d + variant);
  const std::string block = h264 ? avdtest::le32(4) + sps + avdtest::le32(2) + "\x68\xcb"
                                 : avdtest::le32(25) + avdtest::le32(320 + variant) + avdtest::le32(240);
  return avdtest::streamHeaderPayload(h264 ? 1 : 2, "", block);
}

std::string noise(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

// An archive and what salvage must make of it: the frames by id, 0 where a
// new session begins, and what is skipped (all offsets recorded as built).
struct Damaged {
  AvdBuilder b;
  std::string expected;
  std::uint64_t skipped = 0, first = 0;
  std::uint32_t places = 0;
  bool h264;

  explicit Damaged(bool codecH264) : h264(codecH264) { b.record(0, header(h264, 0), kT); }
  bool lastBad = false;

  Damaged& good(int id) {
    b.frame(frame(h264, id), kT + static_cast<std::uint32_t>(id), 0, id % 5 == 1 ? 2 : 1);
    expected += static_cast<char>(id);
    lastBad = false;
    return *this;
  }
  // Bytes that are lost; skipped unless they are padding or a cut-off last
  // record. Lost bytes in a row are one place.
  Damaged& bad(const std::string& bytes, bool counted = true) {
    if (counted && !lastBad && places++ == 0) first = b.bytes().size();
    if (counted) skipped += bytes.size();
    lastBad = true;
    b.raw(bytes);
    return *this;
  }
  // Records that check out but are not to be trusted: alone, or a week old.
  Damaged& untrusted(int id, std::uint32_t seconds) {
    AvdBuilder r;
    r.frame(frame(h264, id), seconds).frame(frame(h264, id), seconds);
    return bad(seconds == kT ? r.bytes().substr(0, r.bytes().size() / 2) : r.bytes());
  }
  Damaged& session(int variant, bool differs) {
    b.record(0, header(h264, variant), kT + 50);
    if (differs) expected += '\0';
    return *this;
  }
  Damaged& lostFrame(int id, std::uint32_t keep, char with = '\xEE', std::uint32_t at = 0) {
    AvdBuilder r;
    r.frame(frame(h264, id), kT + static_cast<std::uint32_t>(id));
    std::string bytes = r.bytes();
    std::fill(bytes.begin() + at, bytes.begin() + at + keep, with);
    return bad(bytes);
  }
};

std::string readAll(AvdReader& reader) {
  std::string ids;
  xtd::strview out;
  std::uint32_t ticks = 0;
  for (int kind; (kind = reader.nextFrame(out, &ticks)) != -1;) {
    ids += kind == AvdReader::kNewSessionKind ? '\0' : out.data[30];
  }
  return ids;
}

TEST(AvdSalvageTest, EveryIntactFrameAndNothingElseInBothPasses) {
  std::vector<std::pair<std::string, Damaged>> table;
  for (const bool h264 : {true, false}) {
    const std::string codec = h264 ? "h264/" : "mjpeg/";
    auto row = [&](const char* name) -> Damaged& { return table.emplace_back(codec + name, Damaged(h264)).second; };
    row("garbage").good(1).good(2).bad(noise(5000, 1)).good(3).good(4);
    row("zeros").good(1).bad(std::string(3000, '\0')).good(2).good(3);
    // A header whose length reaches into the next records.
    row("cut").good(1).bad(AvdBuilder().frame(frame(h264, 9), kT + 1).bytes().substr(0, 60)).good(2).good(3);
    row("header-overwritten").good(1).lostFrame(2, 12).good(3).good(4);
    row("payload-garbage").good(1).lostFrame(2, 20, '\x5A', 12).good(3).good(4);
    row("garbage-then-session").good(1).bad(noise(700, 2)).session(1, true).good(2).good(3);
    row("same-session").good(1).session(0, false).good(2).session(3, true).good(3);
    row("garbage-at-end").good(1).good(2).bad(noise(900, 3));
    row("zeros-at-end").good(1).good(2).bad(std::string(900, '\0'), false);
    row("cut-at-end").good(1).good(2).bad(AvdBuilder().frame(frame(h264, 9), kT + 2).bytes().substr(0, 40), false);
    row("last-frame-alone").good(1).bad(noise(300, 4)).good(2);
    row("lone-record").good(1).bad(noise(400, 5)).untrusted(7, kT).bad(noise(300, 6)).good(2).good(3);
    row("stale-records").good(1).bad(noise(400, 7)).untrusted(7, kT - 7 * 86400).good(2).good(3);
  }
  avdtest::TempDir tmp;
  for (auto& [name, d] : table) {
    // Refills of 256 bytes put every kind of damage across a buffer boundary.
    for (const std::uint32_t chunk : {0u, 256u, 1000u}) {
      SCOPED_TRACE(name + " chunk " + std::to_string(chunk));
      avdtest::writeFile(tmp / "a.avd", d.b.bytes());
      AvdReader reader;
      if (chunk) reader.setChunkForTesting(chunk);
      ASSERT_TRUE(reader.openArchive(avdtest::widePath(tmp / "a.avd").view()));
      xtd::strview head;
      const AvdRecordHeader* h = reader.readRecord(head);
      ASSERT_NE(h, nullptr);
      reader.salvageFrom(head, h->seconds);
      EXPECT_EQ(readAll(reader), d.expected);
      EXPECT_NE(reader.end(), AvdReader::End::ReadFailed);
      EXPECT_EQ(reader.skipped().bytes, d.skipped);
      EXPECT_EQ(reader.skipped().places, d.places);
      EXPECT_EQ(reader.skipped().first, d.first);
      EXPECT_EQ(reader.checkExtent(), AvdReader::Extent::Whole);
      reader.replaySalvage();
      EXPECT_EQ(readAll(reader), d.expected);
    }
  }
}

// The search over a few MiB of bytes that hold no archive: random bytes,
// zeros, JPEG-like and NAL-like data, with either codec's checks and any
// time taken; bench/resync_false_positives.py does the same over gigabytes
// of real streams.
TEST(AvdSalvageTest, BytesThatHoldNoArchiveHoldNoRecord) {
  std::string jpegs, nals;
  for (int i = 0; nals.size() < (4u << 20); ++i) {
    const std::string part = noise(4000 + i % 3000, static_cast<unsigned>(i));
    jpegs += "\xFF\xD8\xFF\xE0" + part + "\xFF\xD9";
    nals += std::string("\0\0\0\x01\x41", 5) + part;
  }
  avdtest::TempDir tmp;
  for (const std::string& bytes : {noise(8u << 20, 7), std::string(8u << 20, '\0'), jpegs, nals}) {
    avdtest::writeFile(tmp / "x.avd", bytes);
    for (const std::uint32_t codec : {StreamHeader::kH264, StreamHeader::kMjpeg}) {
      AvdReader reader;
      ASSERT_TRUE(reader.openArchive(avdtest::widePath(tmp / "x.avd").view()));
      RecordCheck check;
      check.codec = codec;
      check.anyTime = true;
      record_search::Counts counts;
      std::uint64_t found = 0;
      EXPECT_EQ(reader.findRecord(0, check, found, &counts), record_search::Result::NotFound) << found;
      EXPECT_EQ(counts.accepted, 0u);
    }
  }
}

}  // namespace
