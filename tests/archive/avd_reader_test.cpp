#include "archive/avd_reader.h"

#include <gtest/gtest.h>

#include <fstream>

#include <string>
#include <vector>

#include "ostra/tick_time.h"
#include "platform/sha256.h"
#include "tests/support/avd_builder.h"
#include "tests/support/fault_files.h"
#include "tests/support/temp_dir.h"

namespace {

using avdtest::AvdBuilder;

struct Frame {
  int kind;
  std::string payload;
  std::uint32_t ticks;
};

class AvdReaderTest : public ::testing::Test {
 protected:
  std::filesystem::path write(const std::string& bytes, const std::string& name = "a.avd") {
    const auto file = tmp_ / name;
    avdtest::writeFile(file, bytes);
    return file;
  }

  // Opens the archive, checks the stream header and collects every frame.
  std::vector<Frame> readAll(const std::filesystem::path& file, std::uint32_t chunk = 0,
                             std::string* header = nullptr) {
    AvdReader reader;
    if (chunk) reader.setChunkForTesting(chunk);
    const xtd::dwstring path = avdtest::widePath(file);
    EXPECT_TRUE(reader.openArchive(path.view()));
    xtd::strview view;
    const AvdRecordHeader* h = reader.readRecord(view);
    EXPECT_NE(h, nullptr);
    if (!h) return {};
    EXPECT_EQ(h->type, 0);
    if (header) *header = std::string(view.data, view.length);
    std::vector<Frame> frames;
    std::uint32_t ticks = 0;
    for (int kind; (kind = reader.nextFrame(view, &ticks)) != -1;) {
      frames.push_back({kind, std::string(view.data, view.length), ticks});
    }
    EXPECT_EQ(view.length, 0u);
    return frames;
  }

  avdtest::TempDir tmp_;
};

TEST_F(AvdReaderTest, DeliversHeaderAndFramesWithKindsAndTicks) {
  AvdBuilder b;
  b.mjpegHeader(25, 640, 480).frame("one", 100, 0, 1).frame("two", 101, 0, 2).frame("three", 101, 9999, 1);
  std::string header;
  const auto frames = readAll(write(b.bytes()), 0, &header);
  EXPECT_EQ(header, avdtest::streamHeaderPayload(2, "", avdtest::le32(25) + avdtest::le32(640) + avdtest::le32(480)));
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].payload, "one");
  EXPECT_EQ(frames[0].kind, 2);  // type 1 is kind 2
  EXPECT_EQ(frames[1].kind, 1);  // type 2 is kind 1
  EXPECT_EQ(frames[2].payload, "three");
  EXPECT_EQ(frames[0].ticks, Ostra::toTicks(100, 0));
  EXPECT_EQ(frames[1].ticks - frames[0].ticks, 100u);  // one second is 100 ticks
  EXPECT_EQ(frames[2].ticks, frames[1].ticks);          // 9,999 us in the same 10 ms step
}

TEST_F(AvdReaderTest, ZeroLengthPayloadIsAFrame) {
  AvdBuilder b;
  b.mjpegHeader(25, 8, 8).frame("", 1).frame("x", 2);
  const auto frames = readAll(write(b.bytes()));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].payload, "");
  EXPECT_EQ(frames[1].payload, "x");
}

TEST_F(AvdReaderTest, RecordsCrossingRefillBoundariesArriveWhole) {
  // A tiny refill size puts every boundary case inside a few hundred bytes.
  AvdBuilder b;
  b.mjpegHeader(25, 8, 8);
  std::vector<std::string> payloads;
  for (int i = 0; i < 40; ++i) {
    payloads.push_back(std::string(static_cast<std::size_t>(i * 7 % 61), static_cast<char>('a' + i % 26)));
    b.frame(payloads.back(), static_cast<std::uint32_t>(i));
  }
  for (std::uint32_t chunk : {12u, 13u, 31u, 64u, 100u}) {
    SCOPED_TRACE(chunk);
    const auto frames = readAll(write(b.bytes()), chunk);
    ASSERT_EQ(frames.size(), payloads.size());
    for (std::size_t i = 0; i < payloads.size(); ++i) EXPECT_EQ(frames[i].payload, payloads[i]);
  }
}

TEST_F(AvdReaderTest, FileOfExactlyOneRefillEndsCleanly) {
  AvdBuilder b;
  b.mjpegHeader(25, 8, 8);
  const std::size_t headerBytes = b.bytes().size();
  const std::string payload(AvdReader::kReadChunk - headerBytes - AvdRecordHeader::kSize, 'p');
  b.frame(payload, 5);
  ASSERT_EQ(b.bytes().size(), AvdReader::kReadChunk);
  const auto frames = readAll(write(b.bytes()));
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].payload.size(), payload.size());
}

TEST_F(AvdReaderTest, PayloadLargerThanOneRefillGrowsTheBuffer) {
  AvdBuilder b;
  std::string big(AvdReader::kReadChunk + 12345, '\0');
  for (std::size_t i = 0; i < big.size(); i += 4096) big[i] = static_cast<char>(i / 4096);
  b.mjpegHeader(25, 8, 8).frame("small", 1).frame(big, 2).frame("after", 3);
  AvdReader reader;
  const xtd::dwstring path = avdtest::widePath(write(b.bytes()));
  ASSERT_TRUE(reader.openArchive(path.view()));
  xtd::strview view;
  ASSERT_NE(reader.readRecord(view), nullptr);
  std::uint32_t ticks;
  ASSERT_EQ(reader.nextFrame(view, &ticks), 2);
  ASSERT_EQ(reader.nextFrame(view, &ticks), 2);
  EXPECT_EQ(std::string(view.data, view.length), big);
  EXPECT_GE(reader.bufferCapacity(), big.size());
  ASSERT_EQ(reader.nextFrame(view, &ticks), 2);
  EXPECT_EQ(std::string(view.data, view.length), "after");
  EXPECT_EQ(reader.nextFrame(view, &ticks), -1);
}

TEST_F(AvdReaderTest, DamageEndsTheFramesAfterTheLastWholeRecord) {
  AvdBuilder good;
  good.mjpegHeader(25, 8, 8).frame("f1", 1).frame("f2", 2);
  for (std::size_t garbage = 1; garbage <= 11; ++garbage) {
    SCOPED_TRACE(garbage);
    AvdBuilder b = good;
    b.raw(std::string(garbage, '\x01'));
    EXPECT_EQ(readAll(write(b.bytes())).size(), 2u);
  }
  {
    AvdBuilder cut = good;
    cut.frame("a payload cut short", 3);
    std::string bytes = cut.bytes();
    bytes.resize(bytes.size() - 5);
    EXPECT_EQ(readAll(write(bytes)).size(), 2u);
  }
  {
    AvdBuilder invalid = good;
    invalid.record(3, "bad", 3).frame("unreached", 4);
    EXPECT_EQ(readAll(write(invalid.bytes())).size(), 2u);
  }
  {
    AvdBuilder second = good;
    second.mjpegHeader(25, 8, 8).frame("unreached", 4);
    EXPECT_EQ(readAll(write(second.bytes())).size(), 2u);
  }
}

TEST_F(AvdReaderTest, EmptyOrHeaderlessFilesHaveNoRecords) {
  AvdReader reader;
  const xtd::dwstring empty = avdtest::widePath(write("", "empty.avd"));
  ASSERT_TRUE(reader.openArchive(empty.view()));
  xtd::strview view;
  EXPECT_EQ(reader.readRecord(view), nullptr);
  EXPECT_EQ(view.length, 0u);
  reader.closeArchive();

  const xtd::dwstring missing = avdtest::widePath(tmp_ / "missing.avd");
  AvdReader other;
  EXPECT_FALSE(other.openArchive(missing.view()));
}

TEST_F(AvdReaderTest, ClosedReaderReopensAndStartsOver) {
  AvdBuilder b;
  b.mjpegHeader(25, 8, 8).frame("again", 1);
  AvdReader reader;
  const xtd::dwstring path = avdtest::widePath(write(b.bytes()));
  ASSERT_TRUE(reader.openArchive(path.view()));
  xtd::strview view;
  ASSERT_NE(reader.readRecord(view), nullptr);
  reader.closeArchive();
  const AvdRecordHeader* h = reader.readRecord(view);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->type, 0);
}

TEST_F(AvdReaderTest, ReadFailureEndsTheFramesAndLeaksNothing) {
  AvdBuilder b;
  b.mjpegHeader(25, 8, 8).frame("f1", 1).frame("f2", 2);
  const xtd::dwstring path = avdtest::widePath(write(b.bytes()));
  avdtest::FaultInjectingFiles faults;
  avdtest::ScopedFileApi scoped(faults);
  faults.failAt(avdtest::FileOp::Read, 2);
  {
    AvdReader reader;
    reader.setChunkForTesting(45);  // the header fits the first read, the frames need a second
    ASSERT_TRUE(reader.openArchive(path.view()));
    xtd::strview view;
    ASSERT_NE(reader.readRecord(view), nullptr);
    std::uint32_t ticks;
    EXPECT_EQ(reader.nextFrame(view, &ticks), -1);
    EXPECT_TRUE(faults.fired());
  }
  EXPECT_EQ(faults.openHandles(), 0);
}

}  // namespace

namespace {

// Archives past 4 GiB: positions must not wrap. The file is sparse, so the
// huge payloads cost no disk space; only the record headers and the last
// frames are real bytes.
TEST_F(AvdReaderTest, ArchiveLargerThanFourGibibytesIsReadToTheEnd) {
  const std::uint32_t hugeLength = 0xFFFFFF;
  const std::uint64_t fourGiB = 1ull << 32;
  const auto file = tmp_ / "huge.avd";
  AvdBuilder head;
  head.mjpegHeader(25, 8, 8);
  std::uint64_t pos = head.bytes().size();
  std::uint32_t hugeFrames = 0;
  {
    std::ofstream out(file, std::ios::binary);
    out.write(head.bytes().data(), static_cast<std::streamsize>(head.bytes().size()));
    while (pos < fourGiB + 1000) {
      const std::string recordHeader = avdtest::le32(1u | hugeLength << 8) + avdtest::le32(7) + avdtest::le32(0);
      out.seekp(static_cast<std::streamoff>(pos));
      out.write(recordHeader.data(), 12);
      pos += 12 + hugeLength;
      ++hugeFrames;
    }
    AvdBuilder tail;
    tail.frame("last-1", 8).frame("last-2", 9);
    out.seekp(static_cast<std::streamoff>(pos));
    out.write(tail.bytes().data(), static_cast<std::streamsize>(tail.bytes().size()));
    ASSERT_TRUE(out.flush());
  }
  ASSERT_GT(std::filesystem::file_size(file), fourGiB);

  AvdReader reader;
  const xtd::dwstring path = avdtest::widePath(file);
  ASSERT_TRUE(reader.openArchive(path.view()));
  xtd::strview view;
  ASSERT_NE(reader.readRecord(view), nullptr);
  std::uint32_t ticks = 0;
  std::uint32_t frames = 0;
  std::string last;
  for (int kind; (kind = reader.nextFrame(view, &ticks)) != -1; ++frames) {
    if (view.length != hugeLength) last = std::string(view.data, view.length);
  }
  EXPECT_EQ(frames, hugeFrames + 2);
  EXPECT_EQ(last, "last-2");
  EXPECT_EQ(ticks, Ostra::toTicks(9, 0));
}

}  // namespace

// The hash of an archive read whole is the hash of its bytes, each once and
// in order, whatever the refills read twice, a second pass reads again, or
// the tail scan skips as a hole or reads only to tell data from padding.
TEST_F(AvdReaderTest, HashesEveryByteOfAnArchiveReadWholeOnce) {
  AvdBuilder frames;
  frames.mjpegHeader(25, 8, 8);
  for (int i = 0; i < 30; ++i) frames.frame(std::string(static_cast<std::size_t>(i * 11 % 53), 'a' + i % 26), i);
  const std::string body = frames.bytes();
  const struct {
    const char* shape;
    std::string bytes;
    std::uint64_t hole;  // zeros appended as a hole
  } archives[] = {
      {"ends between records", body, 0},
      {"last record cut short", body + std::string("\x01\x09\x00\x00" "12345678abc", 15), 0},
      {"second session behind", body + body, 0},
      {"damage and padding behind", body + std::string(12, '\x07') + std::string(300, '\0'), 0},
      {"stream header and a hole behind", body + std::string(AvdBuilder().mjpegHeader(25, 8, 8).bytes()), 70000},
  };
  for (const auto& a : archives) {
    const auto file = write(a.bytes);
    if (a.hole) std::filesystem::resize_file(file, a.bytes.size() + a.hole);
    std::string whole = a.bytes + std::string(a.hole, '\0');
    for (const std::uint32_t chunk : {12u, 31u, 100u, 0u}) {
      for (const bool secondPass : {false, true}) {
        SCOPED_TRACE(std::string(a.shape) + " chunk " + std::to_string(chunk) + (secondPass ? " two passes" : ""));
        AvdReader reader;
        reader.hashContent(true);
        if (chunk) reader.setChunkForTesting(chunk);
        const xtd::dwstring path = avdtest::widePath(file);
        ASSERT_TRUE(reader.openArchive(path.view()));
        xtd::strview view;
        ASSERT_NE(reader.readRecord(view), nullptr);
        const std::uint64_t firstFrame = reader.nextOffset();
        std::uint32_t ticks;
        while (reader.nextFrame(view, &ticks) != -1) {
        }
        if (reader.end() == AvdReader::End::InvalidType || reader.end() == AvdReader::End::StreamHeader) {
          ASSERT_NE(reader.scanTail(), AvdReader::Tail::ReadFailed);
        }
        reader.checkExtent();
        if (secondPass) {
          reader.rewind(firstFrame);
          while (reader.nextFrame(view, &ticks) != -1) {
          }
        }
        EXPECT_EQ(reader.contentDigest(), platform::Sha256::of(whole.data(), whole.size()));
        EXPECT_EQ(reader.bytesRead(), whole.size());
      }
    }
  }
}
