#include "writers/flv_writer.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/avd_builder.h"
#include "tests/support/fault_files.h"
#include "commit/temporary_name.h"
#include "tests/support/temp_dir.h"
#include "tests/writers/drive_writer.h"
#include "tests/writers/h264/h264_samples.h"
#include "writers/create_writer.h"
#include "commit/staged_file.h"
#include "xtd/byte_order.h"

namespace {

using avdtest::le32;

std::string unhex(const char* hex) {
  std::string out;
  for (const char* p = hex; p[0] && p[1]; p += 2) out.push_back(static_cast<char>(std::stoi(std::string(p, 2), nullptr, 16)));
  return out;
}

// Parameter sets of a 320x240 baseline stream encoded with libx264.
const std::string kSps = unhex("6742c00dd90141fb011000000300100000030320f142a480");
const std::string kPps = unhex("68cb83cb20");
const std::size_t kHeaderBlockSize = 13 + 154 + 31 + 24 + 5;

// A video tag as the recorder stores it: 11-byte header with a timestamp of
// its own, the body, and the previous-tag-size.
std::string tag(const std::string& body, std::uint32_t recordedStamp = 0x123456) {
  const auto size = static_cast<std::uint32_t>(body.size());
  std::string t(11, '\0');
  t[0] = '\x09';
  xtd::store_be24(&t[1], size);
  xtd::store_be24(&t[4], recordedStamp);
  t[7] = static_cast<char>(recordedStamp >> 24);
  t += body;
  t.resize(t.size() + 4);
  xtd::store_be32(&t[t.size() - 4], size + 11);
  return t;
}

double doubleAt(const std::string& s, std::size_t at) { return std::bit_cast<double>(xtd::load_be64(s.data() + at)); }

using Frame = avdtest::WriterFrame;

class FlvWriterTest : public ::testing::Test {
 protected:
  std::string headerPayload(const std::string& sps = kSps, const std::string& pps = kPps) {
    return avdtest::streamHeaderPayload(1, "xy", le32(static_cast<std::uint32_t>(sps.size())) + sps +
                                                       le32(static_cast<std::uint32_t>(pps.size())) + pps);
  }

  avdtest::WriterRun run(const std::vector<Frame>& frames, const std::string& payload = "") {
    return avdtest::driveWriter(tmp_ / "cam1.avd", payload.empty() ? headerPayload() : payload, frames);
  }

  // Converts through the writer as the conversion task drives it; every
  // conversion here must complete and leave nothing but its output.
  std::string convert(const std::vector<Frame>& frames) {
    const avdtest::WriterRun r = run(frames);
    EXPECT_TRUE(r.finished);
    EXPECT_FALSE(r.temporaryLeft);
    return r.outputBytes;
  }

  avdtest::TempDir tmp_;
};

TEST_F(FlvWriterTest, NoFramesGivesTheHeaderBlockWithZeroDuration) {
  const std::string flv = convert({});
  ASSERT_EQ(flv.size(), kHeaderBlockSize);
  EXPECT_EQ(flv.substr(0, 13), std::string("FLV\x01\x01\0\0\0\x09\0\0\0\0", 13));
  EXPECT_EQ(doubleAt(flv, 78), 320.0);   // width from the SPS
  EXPECT_EQ(doubleAt(flv, 95), 240.0);   // height
  EXPECT_EQ(doubleAt(flv, 137), 0.0);    // duration
  EXPECT_EQ(flv.substr(kHeaderBlockSize - 4 - 5, 5), kPps);
}

TEST_F(FlvWriterTest, InterlacedStreamGivesTheFrameHeight) {
  const std::string sps(reinterpret_cast<const char*>(kField576Sps), sizeof kField576Sps);
  const std::string flv = run({}, headerPayload(sps)).outputBytes;
  ASSERT_GT(flv.size(), 103u);
  EXPECT_EQ(doubleAt(flv, 78), 720.0);
  EXPECT_EQ(doubleAt(flv, 95), 576.0);  // 18 map units of field pairs
}

TEST_F(FlvWriterTest, TimestampsCountFromTheFirstFrame) {
  const std::string body = "\x17\x01\0\0\0picture";
  const std::uint32_t t0 = 5000;
  const std::string flv = convert({{tag(body), t0}, {tag(body), t0 + 2}, {tag(body), t0 + 1677722}});
  const std::size_t tagSize = tag(body).size();
  ASSERT_EQ(flv.size(), kHeaderBlockSize + 3 * tagSize);
  const std::string expectedStamps[] = {std::string("\0\0\0\0", 4), std::string("\0\0\x14\0", 4),
                                        std::string("\0\0\x04\x01", 4)};
  for (int i = 0; i < 3; ++i) {
    const std::string written = flv.substr(kHeaderBlockSize + i * tagSize, tagSize);
    std::string expected = tag(body);
    expected.replace(4, 4, expectedStamps[i]);
    EXPECT_EQ(written, expected) << "tag " << i;
  }
  // 16,777,220 ms after the first frame: the duration keeps whole seconds.
  EXPECT_EQ(doubleAt(flv, 137), 16777.0);
}

// Small frames are staged and written in blocks; one larger than the stage
// goes straight to the file: the bytes come out the same, in order.
TEST_F(FlvWriterTest, FramesOfEverySizeComeOutInOrder) {
  std::vector<Frame> frames;
  std::string expected;
  const std::size_t sizes[] = {10, FLVWriter::kFlushThreshold - 300, 3 * FLVWriter::kFlushThreshold, 20,
                               FLVWriter::kBufferCapacity - 8, 5};
  std::uint32_t t = 700;
  for (std::size_t size : sizes) {
    std::string body(size, static_cast<char>('a' + frames.size()));
    frames.push_back({tag(body), t});
    std::string out = tag(body);
    xtd::store_be24(&out[4], 10 * (t - 700));
    out[7] = 0;
    expected += out;
    t += 3;
  }
  const std::string flv = convert(frames);
  ASSERT_EQ(flv.size(), kHeaderBlockSize + expected.size());
  EXPECT_TRUE(flv.substr(kHeaderBlockSize) == expected);
}

TEST_F(FlvWriterTest, DurationIsTheLastTimestampInWholeSeconds) {
  const std::string flv = convert({{tag("a"), 100}, {tag("b"), 100 + 1234}});
  EXPECT_EQ(doubleAt(flv, 137), 12.0);
}

TEST_F(FlvWriterTest, ShortPayloadsAreNeverReadPastTheirEnd) {
  const std::string flv = convert({{std::string("\x09\x00\x00\x05\xAA\xBB", 6), 10}, {"\x09\x01", 12}, {"", 13}});
  ASSERT_EQ(flv.size(), kHeaderBlockSize + 3 * 8);
  EXPECT_EQ(flv.substr(kHeaderBlockSize, 8), std::string("\x09\x00\x00\x05\0\0\0\0", 8));
  EXPECT_EQ(flv.substr(kHeaderBlockSize + 8, 8), std::string("\x09\x01\0\0\0\0\x14\0", 8));
}

TEST_F(FlvWriterTest, OutputReachesTheFileOnlyPastOneMebibyte) {
  avdtest::FaultInjectingFiles counter;
  avdtest::ScopedFileApi scoped(counter);
  const auto archive = tmp_ / "cam1.avd";
  avdtest::writeFile(archive, "x");
  const xtd::dwstring path = avdtest::widePath(archive);
  FLVWriter writer(path.view());
  const std::string hp = headerPayload();
  const xtd::strview header(hp.data(), static_cast<std::uint32_t>(hp.size()));
  ASSERT_TRUE(writer.open(&header));
  // One frame brings the held bytes to exactly 1 MiB: no write yet.
  const std::string fill(FLVWriter::kFlushThreshold - kHeaderBlockSize, 'f');
  const std::uint32_t t = 1;
  xtd::strview v(fill.data(), static_cast<std::uint32_t>(fill.size()));
  ASSERT_TRUE(writer.writeFrame(&v, &t, 1));
  EXPECT_EQ(counter.calls(avdtest::FileOp::Write), 0u);
  const std::string small = tag("z");
  v = xtd::strview(small.data(), static_cast<std::uint32_t>(small.size()));
  ASSERT_TRUE(writer.writeFrame(&v, &t, 1));
  EXPECT_EQ(counter.calls(avdtest::FileOp::Write), 1u);
  const std::filesystem::path temporary = temporaryPathFor(avdtest::widePath(tmp_ / "cam1.flv").view()).c_str();
  EXPECT_EQ(std::filesystem::file_size(temporary), FLVWriter::kFlushThreshold + small.size());
  EXPECT_FALSE(std::filesystem::exists(tmp_ / "cam1.flv"));  // only once complete
  EXPECT_TRUE(writer.finish());
  EXPECT_FALSE(std::filesystem::exists(temporary));
  EXPECT_EQ(std::filesystem::file_size(tmp_ / "cam1.flv"), FLVWriter::kFlushThreshold + small.size());
}

// A refused header leaves an earlier file at the output name untouched.
TEST_F(FlvWriterTest, UnusableParameterSetsAreRefusedWithoutTouchingTheOutputName) {
  const std::string longSps = std::string("\x67\x42\xc0\x0d", 4) + std::string(65536 - 4, '\x11');
  avdtest::writeFile(tmp_ / "cam1.flv", "an earlier output");
  for (const std::string& payload : {headerPayload(std::string("\x67\x42", 2)), headerPayload(longSps),
                                     headerPayload(kSps, std::string(65536, '\x22'))}) {
    const avdtest::WriterRun r = run({{tag("a"), 1}}, payload);
    EXPECT_FALSE(r.opened);
    EXPECT_FALSE(r.temporaryLeft);
    EXPECT_EQ(r.outputBytes, "an earlier output");
  }
  // Lengths beyond the payload: no writer, so no output file at all.
  const std::string cut = avdtest::streamHeaderPayload(1, "", le32(100) + kSps);
  const xtd::dwstring path = avdtest::widePath(tmp_ / "cut.avd");
  const xtd::strview header(cut.data(), static_cast<std::uint32_t>(cut.size()));
  EXPECT_EQ(createWriter(path.view(), &header), nullptr);
  EXPECT_FALSE(std::filesystem::exists(tmp_ / "cut.flv"));
}

// A failing file operation on the output path leaves no trace: no
// temporary file, and what sat at the output name stays as it was.
TEST_F(FlvWriterTest, AnyFailedOutputOperationLeavesNoTrace) {
  using avdtest::FileOp;
  const std::string big(700 * 1024, 'b');  // two flushes before finish
  std::vector<Frame> frames = {{tag(big), 1}, {tag(big), 2}, {tag(big), 3}, {tag("end"), 4}};
  for (FileOp op : {FileOp::CreateNew, FileOp::Write, FileOp::Seek, FileOp::Flush, FileOp::Close, FileOp::Rename}) {
    for (unsigned n = 1; n < 20; ++n) {
      SCOPED_TRACE(std::string(avdtest::fileOpName(op)) + " #" + std::to_string(n));
      avdtest::writeFile(tmp_ / "cam1.flv", "an earlier output");
      avdtest::FaultInjectingFiles faults;
      faults.failAt(op, n);
      avdtest::WriterRun r;
      {
        avdtest::ScopedFileApi scoped(faults);
        r = run(frames);
      }
      EXPECT_EQ(faults.openHandles(), 0);
      EXPECT_FALSE(r.temporaryLeft);
      if (!faults.fired()) {
        EXPECT_TRUE(r.finished);
        EXPECT_NE(r.outputBytes, "an earlier output");
        break;
      }
      EXPECT_FALSE(r.finished);
      EXPECT_EQ(r.outputBytes, "an earlier output");
    }
  }
}

}  // namespace
