#include "writers/avi_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/support/avd_builder.h"
#include "tests/support/fault_files.h"
#include "tests/support/temp_dir.h"
#include "tests/writers/drive_writer.h"
#include "writers/create_writer.h"
#include "xtd/byte_order.h"

namespace {

using avdtest::le32;

std::string le16(std::uint16_t v) {
  std::string s(2, '\0');
  xtd::store_le16(s.data(), v);
  return s;
}

std::uint32_t u32At(const std::string& s, std::size_t at) { return xtd::load_le32(s.data() + at); }

// The header the writer must produce, assembled field by field from the
// file-format table rather than from the writer's own template.
std::string expectedHeader(std::uint32_t riffSize, std::uint32_t frames, std::uint32_t fps, std::uint32_t width,
                           std::uint32_t height, std::uint32_t moviSize) {
  std::string h;
  h += "RIFF" + le32(riffSize) + "AVI ";
  h += "LIST" + le32(196) + "hdrl";
  h += "avih" + le32(56);
  h += le32(0) + le32(0) + le32(0) + le32(0x10) + le32(frames) + le32(0) + le32(1) + le32(0) + le32(0) + le32(0);
  h += std::string(16, '\0');
  h += "LIST" + le32(120) + "strl";
  h += "strh" + le32(56) + "vids" + "MJPG" + le32(0) + le16(0) + le16(0) + le32(0) + le32(1) + le32(fps) + le32(0) +
       le32(0) + le32(0) + le32(0) + le32(0);
  h += le16(0) + le16(0) + le16(static_cast<std::uint16_t>(width)) + le16(static_cast<std::uint16_t>(height));
  h += "strf" + le32(44) + le32(40) + le32(width) + le32(height) + le16(1) + le16(24) + "MJPG" + std::string(20, '\0');
  h += le32(0);
  h += "LIST" + le32(moviSize) + "movi";
  return h;
}

class AviWriterTest : public ::testing::Test {
 protected:
  // Converts with the writer and returns the output; every conversion here
  // must complete and leave nothing but its output.
  std::string convert(const std::string& headerPayload, const std::vector<std::string>& frames) {
    std::vector<avdtest::WriterFrame> in;
    for (const auto& f : frames) in.push_back({f, 0});
    const avdtest::WriterRun run = avdtest::driveWriter(tmp_ / "cam1.avd", headerPayload, in);
    EXPECT_TRUE(run.finished);
    EXPECT_FALSE(run.temporaryLeft);
    return run.outputBytes;
  }

  static std::string mjpeg(std::uint32_t fps, std::uint32_t w, std::uint32_t h) {
    return avdtest::streamHeaderPayload(2, "opaque", le32(fps) + le32(w) + le32(h));
  }

  avdtest::TempDir tmp_;
};

TEST_F(AviWriterTest, NoFramesGivesHeaderAndEmptyIndex) {
  const std::string avi = convert(mjpeg(25, 640, 480), {});
  EXPECT_EQ(avi, expectedHeader(228, 0, 25, 640, 480, 4) + "idx1" + le32(0));
  EXPECT_EQ(avi.size(), 236u);
}

TEST_F(AviWriterTest, OddFrameIsPaddedAndIndexed) {
  std::string frame(1001, '\0');
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<char>(i * 31 + 7);
  const std::string avi = convert(mjpeg(25, 640, 480), {frame});
  std::string expected = expectedHeader(1254, 1, 25, 640, 480, 1014);
  expected += "00dc" + le32(1002) + frame + std::string(1, '\0');
  expected += "idx1" + le32(16) + "00dc" + le32(0) + le32(228) + le32(1002);
  EXPECT_EQ(avi.size(), 1262u);
  EXPECT_EQ(avi, expected);
}

TEST_F(AviWriterTest, EmptyAndEvenFramesFollowEachOtherInTheIndex) {
  const std::string avi = convert(mjpeg(25, 16, 16), {"", "abcd", "xyz"});
  const std::size_t movi = 228;
  EXPECT_EQ(avi.substr(movi, 8), "00dc" + le32(0));
  EXPECT_EQ(avi.substr(movi + 8, 12), "00dc" + le32(4) + "abcd");
  EXPECT_EQ(avi.substr(movi + 20, 12), "00dc" + le32(4) + std::string("xyz\0", 4));
  const std::size_t index = movi + 32;
  EXPECT_EQ(avi.substr(index, 8), "idx1" + le32(48));
  EXPECT_EQ(avi.substr(index + 8, 48), "00dc" + le32(0) + le32(228) + le32(0) + "00dc" + le32(0) + le32(236) +
                                           le32(4) + "00dc" + le32(0) + le32(248) + le32(4));
  EXPECT_EQ(u32At(avi, 48), 3u);                          // total frames
  EXPECT_EQ(u32At(avi, 4), index + 48);  // RIFF size: the file length less 8
  EXPECT_EQ(avi.size(), index + 8 + 48);
}

TEST_F(AviWriterTest, RateDefaultsTo30AndLargeSizesFillTheirFields) {
  const std::string avi = convert(mjpeg(0, 1920, 1080), {});
  EXPECT_EQ(u32At(avi, 132), 30u);
  EXPECT_EQ(avi.substr(160, 4), le16(1920) + le16(1080));
  EXPECT_EQ(u32At(avi, 176), 1920u);
  EXPECT_EQ(u32At(avi, 180), 1080u);
}

TEST_F(AviWriterTest, HeadersWithoutTheirCodecBlockOrOtherCodecsGetNoWriter) {
  const xtd::dwstring path = avdtest::widePath(tmp_ / "x.avd");
  for (const std::string& payload : {
           avdtest::streamHeaderPayload(3, "", le32(25) + le32(8) + le32(8)),     // unknown codec
           avdtest::streamHeaderPayload(0, "", le32(25) + le32(8) + le32(8)),
           avdtest::streamHeaderPayload(2, "", le32(25) + le32(8)),               // block cut short
           le32(0) + le32(0) + le32(2) + le32(0xFFFFFFF0) + le32(25) + le32(8) + le32(8),  // opaque length too long
           std::string("\0\0\0\0\0\0\0\0\2\0", 10),                               // codec word cut short
       }) {
    const xtd::strview header(payload.data(), static_cast<std::uint32_t>(payload.size()));
    EXPECT_EQ(createWriter(path.view(), &header), nullptr);
  }
  const xtd::strview empty;
  EXPECT_EQ(createWriter(path.view(), &empty), nullptr);
  EXPECT_FALSE(std::filesystem::exists(tmp_ / "x.avi"));
}

TEST_F(AviWriterTest, OutputNameReplacesTheLastThreeUnits) {
  const xtd::dwstring path = avdtest::widePath(tmp_ / "cam1.avd");
  AVIWriter writer(path.view());
  EXPECT_EQ(std::u16string(writer.outputPath()), (tmp_ / "cam1.avi").u16string());
}

// A failing file operation on the output path leaves no trace: no
// temporary file, and what sat at the output name stays as it was.
TEST_F(AviWriterTest, AnyFailedOutputOperationLeavesNoTrace) {
  using avdtest::FileOp;
  const FileOp ops[] = {FileOp::StreamCreate, FileOp::StreamWrite, FileOp::StreamSeek, FileOp::StreamRead,
                        FileOp::StreamFlush, FileOp::StreamClose, FileOp::Rename};
  std::vector<avdtest::WriterFrame> frames;
  for (int i = 0; i < 3; ++i) frames.push_back({std::string(5000 + i, 'f'), 0});
  for (FileOp op : ops) {
    for (unsigned n = 1; n < 50; ++n) {
      SCOPED_TRACE(std::string(avdtest::fileOpName(op)) + " #" + std::to_string(n));
      avdtest::writeFile(tmp_ / "cam1.avi", "an earlier output");
      avdtest::FaultInjectingFiles faults;
      faults.failAt(op, n);
      avdtest::WriterRun run;
      {
        avdtest::ScopedFileApi scoped(faults);
        run = avdtest::driveWriter(tmp_ / "cam1.avd", mjpeg(25, 8, 8), frames);
      }
      EXPECT_EQ(faults.openHandles(), 0);
      EXPECT_FALSE(run.temporaryLeft);
      if (!faults.fired()) {
        EXPECT_TRUE(run.finished);  // the fault-free run converts
        EXPECT_NE(run.outputBytes, "an earlier output");
        break;
      }
      EXPECT_FALSE(run.finished);
      EXPECT_EQ(run.outputBytes, "an earlier output");
    }
  }
}

TEST_F(AviWriterTest, FrameThatWouldWrapA32BitFieldIsRefused) {
  StagedFile output(avdtest::widePath(tmp_ / "big.avi").view(), u"avi");
  ASSERT_TRUE(output.createStream(AviFile::kStreamBufferSize));
  std::unique_ptr<AviFile> file = aviOpenFile(8, 8, 25, output.stream());
  ASSERT_NE(file, nullptr);
  std::unique_ptr<AviStream> stream = aviAddStream(file.get());
  ASSERT_NE(stream, nullptr);
  const std::string frame(200, 'x');
  // Pretend the movi data already reaches close to 4 GiB.
  file->runningLength = 0xFFFFFFFFull - 150;
  EXPECT_FALSE(aviWriteFrame(stream.get(), frame.data(), 200));
  EXPECT_EQ(file->mainHeader.totalFrames, 0u);
  file->runningLength = 0xFFFFFFFFull - 250;
  EXPECT_TRUE(aviWriteFrame(stream.get(), frame.data(), 200));
}

}  // namespace
