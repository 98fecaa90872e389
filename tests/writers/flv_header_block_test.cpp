#include "writers/flv_header_block.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "xtd/byte_order.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const xtd::dstring& s) {
  return Bytes(reinterpret_cast<const std::uint8_t*>(s.data()),
               reinterpret_cast<const std::uint8_t*>(s.data()) + s.length());
}

Bytes ascii(const char* text) { return Bytes(text, text + std::char_traits<char>::length(text)); }

Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes slice(const Bytes& b, std::size_t offset, std::size_t n) {
  if (offset + n > b.size()) return {};
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(offset), b.begin() + static_cast<std::ptrdiff_t>(offset + n));
}

std::uint32_t be(const Bytes& b, std::size_t offset, int n) {
  const Bytes field = slice(b, offset, static_cast<std::size_t>(n));
  if (field.empty()) throw std::out_of_range("field beyond the block");
  return n == 2 ? xtd::load_be16(field.data()) : n == 3 ? xtd::load_be24(field.data()) : xtd::load_be32(field.data());
}

// SPS and PPS of a 320x240 constrained-baseline stream made with ffmpeg's
// libx264 (-pix_fmt yuv420p -preset ultrafast).
const std::uint8_t kSps320x240[] = {0x67, 0x42, 0xC0, 0x0D, 0xDA, 0x05, 0x07, 0xEC, 0x04, 0x40, 0x00,
                                    0x00, 0x03, 0x00, 0x40, 0x00, 0x00, 0x0C, 0x83, 0xC5, 0x0A, 0xA8};
const std::uint8_t kPps320x240[] = {0x68, 0xCE, 0x0F, 0xC8};
// The IDR slice of the same encoder's one-frame gray 320x240 picture.
const std::uint8_t kIdr320x240[] = {
    0x65, 0x88, 0x84, 0x3A, 0x26, 0x28, 0x0C, 0x9C, 0x9C, 0x9C, 0x9C, 0x9C,
    0x9C, 0x9C, 0x9C, 0x9C, 0x9C, 0x9C, 0x9C, 0x9C, 0x9C, 0x9C, 0x9C, 0x9C,
    0x9C, 0x9D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75,
    0xD7, 0x5D, 0x75, 0xD7, 0x5D, 0x75, 0xD7, 0x5E,
};

const char* chars(const std::uint8_t* p) { return reinterpret_cast<const char*>(p); }

TEST(FlvHeaderBlockTest, FileHeaderAndScriptTagFollowTheFixedLayout) {
  FlvHeaderBlock block;
  EXPECT_EQ(block.buffer().length(), 13u);
  EXPECT_EQ(block.appendMetaData(1920, 1088, 0.0), 137u);
  const Bytes b = bytesOf(block.buffer());
  ASSERT_EQ(b.size(), 167u);

  struct Row {
    std::size_t offset;
    Bytes bytes;
  };
  const Row rows[] = {
      {0, {0x46, 0x4C, 0x56}},
      {3, {0x01}},
      {4, {0x01}},
      {5, {0x00, 0x00, 0x00, 0x09}},
      {9, {0x00, 0x00, 0x00, 0x00}},
      {13, {0x12}},
      {14, {0x00, 0x00, 0x8B}},
      {17, {0x00, 0x00, 0x00, 0x00}},
      {21, {0x00, 0x00, 0x00}},
      {24, cat({{0x02, 0x00, 0x0A}, ascii("onMetaData")})},
      {37, {0x08, 0x00, 0x00, 0x00, 0x07}},
      {42, cat({{0x00, 0x08}, ascii("hasVideo"), {0x01, 0x01}})},
      {54, cat({{0x00, 0x0C}, ascii("hasKeyframes"), {0x01, 0x01}})},
      {70, cat({{0x00, 0x05}, ascii("width"), {0x00, 0x40, 0x9E, 0, 0, 0, 0, 0, 0}})},
      {86, cat({{0x00, 0x06}, ascii("height"), {0x00, 0x40, 0x91, 0, 0, 0, 0, 0, 0}})},
      {103, cat({{0x00, 0x0C}, ascii("videocodecid"), {0x00, 0x40, 0x1C, 0, 0, 0, 0, 0, 0}})},
      {126, cat({{0x00, 0x08}, ascii("duration"), {0x00, 0, 0, 0, 0, 0, 0, 0, 0}})},
      {145, cat({{0x00, 0x0B}, ascii("hasMetadata"), {0x01, 0x01}})},
      {160, {0x00, 0x00, 0x09}},
      {163, {0x00, 0x00, 0x00, 0x96}},
  };
  std::size_t covered = 0;
  for (const Row& row : rows) {
    EXPECT_EQ(row.offset, covered) << "rows must tile the block";
    EXPECT_EQ(slice(b, row.offset, row.bytes.size()), row.bytes) << "at offset " << row.offset;
    covered = row.offset + row.bytes.size();
  }
  EXPECT_EQ(covered, 167u);
}

TEST(FlvHeaderBlockTest, PictureSizeBecomesExactDoubles) {
  FlvHeaderBlock block;
  block.appendMetaData(640, 480, 0.0);
  const Bytes b = bytesOf(block.buffer());
  EXPECT_EQ(slice(b, 78, 8), (Bytes{0x40, 0x84, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(slice(b, 95, 8), (Bytes{0x40, 0x7E, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(b.size(), 167u) << "the script tag's size must not depend on its values";
}

TEST(FlvHeaderBlockTest, DurationIsPatchedInPlaceAndOnlyInsideTheBuffer) {
  FlvHeaderBlock block;
  const std::uint32_t at = block.appendMetaData(1920, 1088, 0.0);
  xtd::dstring buffer = block.takeBuffer();
  const Bytes before = bytesOf(buffer);
  ASSERT_TRUE(putDoubleBE(buffer, at, 12.0));
  const Bytes after = bytesOf(buffer);
  EXPECT_EQ(slice(after, 137, 8), (Bytes{0x40, 0x28, 0, 0, 0, 0, 0, 0}));
  Bytes expected = before;
  std::copy(after.begin() + 137, after.begin() + 145, expected.begin() + 137);
  EXPECT_EQ(after, expected) << "bytes outside the duration changed";

  EXPECT_FALSE(putDoubleBE(buffer, buffer.length() - 7, 1.0));
  EXPECT_FALSE(putDoubleBE(buffer, 0xFFFFFFFFu, 1.0));
  EXPECT_EQ(bytesOf(buffer), after);
  EXPECT_TRUE(putDoubleBE(buffer, buffer.length() - 8, -2.5));
  EXPECT_EQ(slice(bytesOf(buffer), buffer.length() - 8, 8), (Bytes{0xC0, 0x04, 0, 0, 0, 0, 0, 0}));
  xtd::dstring empty;
  EXPECT_FALSE(putDoubleBE(empty, 0, 1.0));
}

TEST(FlvHeaderBlockTest, SequenceHeaderCarriesTheDecoderConfiguration) {
  Bytes sps(25), pps(4);
  for (std::size_t i = 0; i < sps.size(); ++i) sps[i] = static_cast<std::uint8_t>(0x67 + i);
  for (std::size_t i = 0; i < pps.size(); ++i) pps[i] = static_cast<std::uint8_t>(0xA0 + i);
  FlvHeaderBlock block;
  block.appendMetaData(1920, 1088, 0.0);
  ASSERT_TRUE(block.appendAvcSequenceHeader(25, chars(sps.data()), 4, chars(pps.data())));
  const Bytes b = bytesOf(block.buffer());
  ASSERT_EQ(b.size(), 227u);
  EXPECT_EQ(b[167], 0x09);
  EXPECT_EQ(be(b, 168, 3), 45u);
  EXPECT_EQ(slice(b, 171, 7), (Bytes{0, 0, 0, 0, 0, 0, 0}));
  const Bytes config = cat({{0x17, 0x00, 0x00, 0x00, 0x00, 0x01, sps[1], sps[2], sps[3], 0xFF, 0xE1, 0x00, 25},
                            sps,
                            {0x01, 0x00, 0x04},
                            pps});
  EXPECT_EQ(slice(b, 178, config.size()), config);
  EXPECT_EQ(178 + config.size(), 223u);
  EXPECT_EQ(be(b, 223, 4), 56u);
}

TEST(FlvHeaderBlockTest, EmptyPpsLeavesOnlyItsCountAndZeroLength) {
  const Bytes sps = {0x67, 0x64, 0x00, 0x28, 0xAC};
  FlvHeaderBlock block;
  block.appendMetaData(1920, 1088, 0.0);
  ASSERT_TRUE(block.appendAvcSequenceHeader(5, chars(sps.data()), 0, nullptr));
  const Bytes b = bytesOf(block.buffer());
  ASSERT_EQ(b.size(), 13u + 154u + 31u + 5u);
  EXPECT_EQ(be(b, 168, 3), 21u);
  const std::size_t afterSps = 178 + 13 + 5;
  EXPECT_EQ(slice(b, afterSps, 3), (Bytes{0x01, 0x00, 0x00}));
  EXPECT_EQ(be(b, afterSps + 3, 4), 32u) << "the previous-tag-size must follow at once";
}

TEST(FlvHeaderBlockTest, ShortSpsIsNotReadPastItsEnd) {
  // At the very end of a heap block, so that the sanitizer sees any overread.
  std::unique_ptr<char[]> sps(new char[3]{0x67, 0x42, 0x1E});
  FlvHeaderBlock block;
  ASSERT_TRUE(block.appendAvcSequenceHeader(3, sps.get(), 0, nullptr));
  const Bytes b = bytesOf(block.buffer());
  // After the 13-byte file header: tag header, 17 00 000000 01, then the
  // profile, compatibility and level bytes.
  EXPECT_EQ(slice(b, 13 + 11 + 6, 3), (Bytes{0x42, 0x1E, 0x00}));
  EXPECT_EQ(slice(b, 13 + 11 + 11, 5), (Bytes{0x00, 0x03, 0x67, 0x42, 0x1E}));

  std::unique_ptr<char[]> one(new char[1]{0x67});
  FlvHeaderBlock single;
  ASSERT_TRUE(single.appendAvcSequenceHeader(1, one.get(), 0, nullptr));
  EXPECT_EQ(slice(bytesOf(single.buffer()), 13 + 11 + 6, 3), (Bytes{0, 0, 0}));

  FlvHeaderBlock none;
  ASSERT_TRUE(none.appendAvcSequenceHeader(0, nullptr, 0, nullptr));
  EXPECT_EQ(bytesOf(none.buffer()).size(), 13u + 31u);
}

TEST(FlvHeaderBlockTest, ParameterSetsBeyondSixteenBitLengthsAreRefused) {
  const std::string big(65536, '\x42');
  FlvHeaderBlock block;
  const std::uint32_t before = block.buffer().length();
  EXPECT_FALSE(block.appendAvcSequenceHeader(65536, big.data(), 4, big.data()));
  EXPECT_FALSE(block.appendAvcSequenceHeader(4, big.data(), 65536, big.data()));
  EXPECT_EQ(block.buffer().length(), before) << "a refused header must append nothing";
  ASSERT_TRUE(block.appendAvcSequenceHeader(65535, big.data(), 65535, big.data()));
  const Bytes b = bytesOf(block.buffer());
  EXPECT_EQ(b.size(), 13u + 31u + 65535u * 2);
  EXPECT_EQ(be(b, 13 + 11 + 11, 2), 65535u);
  EXPECT_EQ(be(b, 13 + 11 + 13 + 65535 + 1, 2), 65535u);
}

TEST(FlvHeaderBlockTest, BuildingDoesNotReallocateAndTakeBufferEmptiesTheBuilder) {
  FlvHeaderBlock block;
  EXPECT_GE(block.buffer().capacity(), FlvHeaderBlock::kReserve);
  const char* data = block.buffer().data();
  block.appendMetaData(320, 240, 0.0);
  block.appendAvcSequenceHeader(sizeof kSps320x240, chars(kSps320x240), sizeof kPps320x240, chars(kPps320x240));
  EXPECT_EQ(block.buffer().data(), data);
  xtd::dstring taken = block.takeBuffer();
  EXPECT_EQ(taken.data(), data);
  EXPECT_EQ(taken.length(), 13u + 154u + 31u + sizeof kSps320x240 + sizeof kPps320x240);
  EXPECT_EQ(block.buffer().length(), 0u);
}

TEST(FlvHeaderBlockTest, AmfEncodersWriteMarkersLengthsAndBigEndianDoubles) {
  xtd::dstring out;
  EXPECT_TRUE(putAmfString(out, xtd::strview::literal("abc")));
  EXPECT_TRUE(putAmfString(out, xtd::strview()));
  putAmfNumber(out, 1920.0);
  putAmfNumber(out, 0.1);
  EXPECT_EQ(bytesOf(out), (Bytes{0x00, 0x03, 'a', 'b', 'c', 0x00, 0x00, 0x00, 0x40, 0x9E, 0, 0, 0, 0, 0, 0, 0x00, 0x3F,
                                 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}));
  const std::string big(65536, 'k');
  const std::uint32_t before = out.length();
  EXPECT_FALSE(putAmfString(out, xtd::strview(big.data(), 65536)));
  EXPECT_EQ(out.length(), before);
}

// Whether ffprobe runs here. Without it the probe tests skip, unless the run
// requires the media checks (AVD_REQUIRE_MEDIA=1, as CI sets): a missing
// install step must not pass as a skip.
bool ffprobeAvailable(const avdtest::TempDir& dir) {
  const std::string log = (dir / "probe-version.txt").string();
  if (std::system(("ffprobe -version > \"" + log + "\" 2>&1").c_str()) == 0) return true;
  const char* required = std::getenv("AVD_REQUIRE_MEDIA");
  if (required && std::string(required) == "1") ADD_FAILURE() << "ffprobe is not on PATH but AVD_REQUIRE_MEDIA=1";
  return false;
}

// ffprobe's stream report on the file, with its error output.
std::string probeStreams(const avdtest::TempDir& dir, const std::filesystem::path& file) {
  const auto out = dir / (file.filename().string() + ".txt");
  const std::string command = "ffprobe -v error -show_streams \"" + file.string() + "\" > \"" + out.string() + "\" 2>&1";
  const int status = std::system(command.c_str());
  std::string report = avdtest::readFile(out);
  EXPECT_EQ(status, 0) << report;
  return report;
}

std::string headerBlockOf320x240() {
  FlvHeaderBlock block;
  block.appendMetaData(320, 240, 0.0);
  EXPECT_TRUE(block.appendAvcSequenceHeader(sizeof kSps320x240, chars(kSps320x240), sizeof kPps320x240,
                                            chars(kPps320x240)));
  const xtd::dstring bytes = block.takeBuffer();
  return std::string(bytes.data(), bytes.length());
}

TEST(FlvHeaderBlockTest, HeaderBlockAloneParsesAsAnH264Stream) {
  avdtest::TempDir dir;
  if (!ffprobeAvailable(dir)) GTEST_SKIP() << "ffprobe is not on PATH";
  const auto flv = dir / "header-only.flv";
  avdtest::writeFile(flv, headerBlockOf320x240());
  const std::string report = probeStreams(dir, flv);
  EXPECT_NE(report.find("codec_name=h264\n"), std::string::npos) << report;
  EXPECT_NE(report.find("codec_type=video\n"), std::string::npos) << report;
  EXPECT_EQ(report.find("rror"), std::string::npos) << report;
}

TEST(FlvHeaderBlockTest, HeaderBlockConfiguresTheDecoderForARealFrame) {
  avdtest::TempDir dir;
  if (!ffprobeAvailable(dir)) GTEST_SKIP() << "ffprobe is not on PATH";
  // One key-frame tag: AVC NALU packet with a 4-byte length, as the sequence
  // header announced.
  const std::uint32_t nal = sizeof kIdr320x240;
  const std::uint32_t dataSize = 5 + 4 + nal;
  std::string tag;
  auto put = [&tag](std::uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) tag.push_back(static_cast<char>(v >> (8 * i)));
  };
  put(9, 1);
  put(dataSize, 3);
  put(0, 4);
  put(0, 3);
  put(0x17, 1);
  put(1, 1);
  put(0, 3);
  put(nal, 4);
  tag.append(chars(kIdr320x240), nal);
  put(dataSize + 11, 4);
  const auto flv = dir / "one-frame.flv";
  avdtest::writeFile(flv, headerBlockOf320x240() + tag);
  const std::string report = probeStreams(dir, flv);
  EXPECT_NE(report.find("codec_name=h264\n"), std::string::npos) << report;
  EXPECT_NE(report.find("width=320\n"), std::string::npos) << report;
  EXPECT_NE(report.find("height=240\n"), std::string::npos) << report;
  EXPECT_NE(report.find("profile=Constrained Baseline\n"), std::string::npos) << report;
  EXPECT_EQ(report.find("rror"), std::string::npos) << report;
}

}  // namespace
