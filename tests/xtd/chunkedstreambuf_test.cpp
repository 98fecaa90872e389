#include "xtd/chunkedstreambuf.h"

#include <gtest/gtest.h>

#include <istream>
#include <memory>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

struct Counts {
  int made = 0;
  int released = 0;
};

// A chunk that counts its own release.
class CountedChunk final : public xtd::memchunk {
 public:
  CountedChunk(std::size_t n, Counts& counts) : storage_(new char[n]), counts_(counts) {
    begin = rd = wr = storage_.get();
    end = begin + n;
    ++counts_.made;
  }
  void release() noexcept override {
    ++counts_.released;
    delete this;
  }

 private:
  ~CountedChunk() = default;
  std::unique_ptr<char[]> storage_;
  Counts& counts_;
};

// Small chunks, so that short writes already cross chunk boundaries.
class TestBuf : public xtd::chunkedstreambuf {
 public:
  explicit TestBuf(Counts& counts, std::uint32_t chunkSize = 16) : counts_(counts) { default_chunk_size_ = chunkSize; }

  using chunkedstreambuf::overflow;

  std::vector<std::size_t> requests;
  bool refuse = false;

 protected:
  xtd::memchunk* new_chunk(std::size_t n) override {
    requests.push_back(n);
    if (refuse) return nullptr;
    return new CountedChunk(n, counts_);
  }

 private:
  Counts& counts_;
};

std::string pattern(std::size_t n, int seed = 0) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (i * 7 + static_cast<std::size_t>(seed)) % 53);
  return s;
}

TEST(ChunkedStreambufTest, ReadingReturnsBytesInWrittenOrderAndReleasesEachDrainedChunk) {
  Counts counts;
  {
    TestBuf buf(counts);
    const std::string data = pattern(100);
    for (char c : data) ASSERT_EQ(buf.sputc(c), static_cast<unsigned char>(c));
    EXPECT_EQ(buf.chunk_count(), 7u);  // 6 x 16 + 4
    EXPECT_EQ(counts.made, 7);
    std::string got;
    for (std::size_t i = 0; i < data.size(); ++i) {
      const auto c = buf.sbumpc();
      ASSERT_NE(c, std::char_traits<char>::eof()) << "at byte " << i;
      got.push_back(static_cast<char>(c));
      if (i + 1 < data.size()) {
        // Chunks in front of the next byte are gone once it is looked at.
        buf.sgetc();
        EXPECT_EQ(counts.released, static_cast<int>((i + 1) / 16)) << "after byte " << i;
      }
    }
    EXPECT_EQ(got, data);
    EXPECT_EQ(buf.sgetc(), std::char_traits<char>::eof());
    EXPECT_EQ(counts.released, 7);
    EXPECT_EQ(buf.chunk_count(), 0u);
    EXPECT_EQ(buf.held_size(), 0u);

    // The emptied buffer takes new bytes.
    EXPECT_EQ(buf.sputn("xyz", 3), 3);
    char back[3];
    EXPECT_EQ(buf.sgetn(back, 3), 3);
    EXPECT_EQ(std::string(back, 3), "xyz");
  }
  EXPECT_EQ(counts.released, counts.made) << "the destructor must release every chunk";
}

TEST(ChunkedStreambufTest, BytesWrittenAfterReadingStartedAreNotLost) {
  Counts counts;
  TestBuf buf(counts);
  const std::string data = pattern(25);
  buf.sputn(data.data(), 5);
  char got[25];
  ASSERT_EQ(buf.sgetn(got, 2), 2);
  // Fills the shared chunk, then continues in a new one.
  buf.sputn(data.data() + 5, 20);
  EXPECT_EQ(buf.chunk_count(), 2u);
  ASSERT_EQ(buf.sgetn(got + 2, 23), 23);
  EXPECT_EQ(std::string(got, 25), data);
  EXPECT_EQ(buf.sgetc(), std::char_traits<char>::eof());
}

TEST(ChunkedStreambufTest, TailChunkDrainedByReadingIsReusedFromItsStart) {
  Counts counts;
  TestBuf buf(counts);
  const std::string data = pattern(16);
  ASSERT_EQ(buf.sputn(data.data(), 16), 16);
  char got[16];
  ASSERT_EQ(buf.sgetn(got, 16), 16);
  EXPECT_EQ(buf.sputc('z'), 'z');
  EXPECT_EQ(counts.made, 1) << "a drained chunk should be written again, not replaced";
  EXPECT_EQ(buf.sbumpc(), 'z');
  EXPECT_EQ(buf.sgetc(), std::char_traits<char>::eof());
}

TEST(ChunkedStreambufTest, LargeWriteGetsOneChunkSizedToWhatRemains) {
  Counts counts;
  TestBuf buf(counts);
  const std::string data = pattern(1010);
  ASSERT_EQ(buf.sputn(data.data(), 10), 10);
  ASSERT_EQ(buf.sputn(data.data() + 10, 1000), 1000);
  EXPECT_EQ(buf.requests, (std::vector<std::size_t>{16, 994}));
  EXPECT_EQ(buf.chunk_count(), 2u);
  std::string got(1010, '\0');
  ASSERT_EQ(buf.sgetn(got.data(), 1010), 1010);
  EXPECT_EQ(got, data);
}

TEST(ChunkedStreambufTest, RefusedChunkEndsTheWriteShortAndLeavesHeldBytesIntact) {
  Counts counts;
  TestBuf buf(counts);
  const std::string data = pattern(40);
  buf.sputc(data[0]);
  buf.refuse = true;
  EXPECT_EQ(buf.sputn(data.data() + 1, 39), 15);
  EXPECT_EQ(buf.sputc('x'), std::char_traits<char>::eof());
  EXPECT_EQ(buf.write_bytes("abc", 3), 0);
  EXPECT_EQ(buf.held_size(), 16u);
  std::string got(16, '\0');
  EXPECT_EQ(buf.sgetn(got.data(), 16), 16);
  EXPECT_EQ(got, data.substr(0, 16));
}

TEST(ChunkedStreambufTest, WriteBytesCopiesInlineAndFallsBackForLargeWrites) {
  Counts counts;
  TestBuf buf(counts);
  EXPECT_EQ(buf.write_bytes("ab", 0), 0);
  EXPECT_EQ(buf.write_bytes("ab", -3), -3);
  EXPECT_TRUE(buf.requests.empty()) << "an empty write must not touch the ring";
  const std::string data = pattern(50);
  EXPECT_EQ(buf.write_bytes(data.data(), 3), 3);
  EXPECT_EQ(buf.write_bytes(data.data() + 3, 4), 4);
  EXPECT_EQ(buf.write_bytes(data.data() + 7, 43), 43);
  EXPECT_EQ(buf.held_size(), 50u);
  std::string got(50, '\0');
  EXPECT_EQ(buf.sgetn(got.data(), 50), 50);
  EXPECT_EQ(got, data);
}

TEST(ChunkedStreambufTest, SeekoffAnswersOnlyTheOutputPositionQuery) {
  Counts counts;
  TestBuf buf(counts);
  std::ostream out(&buf);
  const std::string data = pattern(300);
  out.write(data.data(), 300);
  EXPECT_EQ(buf.pubseekoff(0, std::ios_base::cur, std::ios_base::out), std::streampos(300));
  EXPECT_EQ(out.tellp(), std::streampos(300));
  const std::streampos invalid(std::streamoff(-1));
  EXPECT_EQ(buf.pubseekoff(0, std::ios_base::beg, std::ios_base::out), invalid);
  EXPECT_EQ(buf.pubseekoff(0, std::ios_base::end, std::ios_base::out), invalid);
  EXPECT_EQ(buf.pubseekoff(1, std::ios_base::cur, std::ios_base::out), invalid);
  EXPECT_EQ(buf.pubseekoff(0, std::ios_base::cur, std::ios_base::in), invalid);
  EXPECT_EQ(buf.pubseekpos(0), invalid);
  // The answer is what is held: reading lowers it.
  char sink[100];
  buf.sgetn(sink, 100);
  EXPECT_EQ(buf.pubseekoff(0, std::ios_base::cur, std::ios_base::out), std::streampos(200));
  out.write("x", 1);
  EXPECT_EQ(out.tellp(), std::streampos(201));
}

TEST(ChunkedStreambufTest, SkipAndReadBytesConsumeFromTheFront) {
  Counts counts;
  TestBuf buf(counts);
  const std::string data = pattern(40);
  buf.sputn(data.data(), 16);
  buf.sputn(data.data() + 16, 24);
  ASSERT_EQ(buf.chunk_count(), 2u);
  EXPECT_EQ(buf.skip_bytes(10), 10u);
  EXPECT_EQ(counts.released, 0);
  char got[10];
  EXPECT_EQ(buf.read_bytes(got, 10), 10u);
  EXPECT_EQ(std::string(got, 10), data.substr(10, 10));
  EXPECT_EQ(counts.released, 1) << "the drained first chunk must go";
  EXPECT_EQ(buf.held_size(), 20u);
  EXPECT_EQ(buf.skip_bytes(100), 20u);
  EXPECT_EQ(buf.chunk_count(), 0u);
  EXPECT_EQ(counts.released, counts.made);
  EXPECT_EQ(buf.read_bytes(got, 5), 0u);
  EXPECT_EQ(buf.skip_bytes(5), 0u);
  // A read that began through the get area continues where it stopped.
  buf.sputn(data.data(), 20);
  EXPECT_EQ(buf.sbumpc(), data[0]);
  EXPECT_EQ(buf.read_bytes(got, 4), 4u);
  EXPECT_EQ(std::string(got, 4), data.substr(1, 4));
  // Writing continues at the end after a read_bytes.
  buf.sputc('!');
  EXPECT_EQ(buf.held_size(), 16u);
}

TEST(ChunkedStreambufTest, HeldSizeAndInAvailCountUnreadBytes) {
  Counts counts;
  TestBuf buf(counts);
  EXPECT_EQ(buf.held_size(), 0u);
  const std::string data = pattern(37);
  buf.sputn(data.data(), 37);
  EXPECT_EQ(buf.held_size(), 37u);
  char sink[5];
  buf.sgetn(sink, 5);
  EXPECT_EQ(buf.held_size(), 32u);
  EXPECT_EQ(buf.in_avail(), 32);
  EXPECT_NE(buf.overflow(std::char_traits<char>::eof()), std::char_traits<char>::eof());
  EXPECT_EQ(buf.pubsync(), 0);
  EXPECT_EQ(buf.held_size(), 32u);
}

TEST(ChunkedStreambufTest, StandardStreamsRoundTripThroughTheBuffer) {
  Counts counts;
  TestBuf buf(counts);
  std::ostream out(&buf);
  std::istream in(&buf);
  for (int i = 0; i < 50; ++i) out << "line " << i << '\n';
  std::string line;
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "line " + std::to_string(i));
  }
  EXPECT_FALSE(std::getline(in, line));
  EXPECT_EQ(counts.released, counts.made);
}

TEST(ChunkedStreambufTest, RandomInterleavedWritesAndReadsMatchAPlainQueue) {
  Counts counts;
  std::mt19937 rng(12345);
  {
    TestBuf buf(counts, 24);
    std::string model;  // bytes written and not read
    std::size_t serial = 0;
    for (int step = 0; step < 4000; ++step) {
      const int op = static_cast<int>(rng() % 5);
      if (op <= 2) {
        const std::size_t n = rng() % (op == 0 ? 3 : 90);
        const std::string piece = pattern(n, static_cast<int>(serial++));
        if (op == 0 && n == 1) {
          buf.sputc(piece[0]);
        } else if (op == 1) {
          ASSERT_EQ(buf.write_bytes(piece.data(), static_cast<std::streamsize>(n)), static_cast<std::streamsize>(n));
        } else {
          ASSERT_EQ(buf.sputn(piece.data(), static_cast<std::streamsize>(n)), static_cast<std::streamsize>(n));
        }
        model += piece;
      } else if (op == 3) {
        const std::size_t n = rng() % 70;
        std::string got(n, '\0');
        const auto k = static_cast<std::size_t>(buf.sgetn(got.data(), static_cast<std::streamsize>(n)));
        ASSERT_EQ(k, std::min(n, model.size()));
        ASSERT_EQ(got.substr(0, k), model.substr(0, k)) << "step " << step;
        model.erase(0, k);
      } else {
        const std::size_t n = rng() % 40;
        std::string got(n, '\0');
        const auto k = static_cast<std::size_t>(buf.read_bytes(got.data(), n));
        ASSERT_EQ(k, std::min(n, model.size()));
        ASSERT_EQ(got.substr(0, k), model.substr(0, k)) << "step " << step;
        model.erase(0, k);
      }
      ASSERT_EQ(buf.held_size(), model.size()) << "step " << step;
      ASSERT_EQ(static_cast<std::uint32_t>(counts.made - counts.released), buf.chunk_count());
    }
  }
  EXPECT_EQ(counts.released, counts.made);
}

}  // namespace
