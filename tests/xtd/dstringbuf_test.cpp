#include "xtd/dstringbuf.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using xtd::dstring;
using xtd::dstringbuf;

// Capacity of a block requested for n bytes.
std::uint32_t capacityFor(std::uint32_t n) {
  const std::uint32_t header = dstring::kHeaderSize;
  return (header + n + 7) / 8 * 8 - header;
}

const std::uint32_t kFirst = capacityFor(64);

std::string pattern(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 23);
  return s;
}

std::string text(const dstring& s) { return std::string(s.data(), s.length()); }

// Records the chunk requests the buffer makes.
class RecordingBuf : public dstringbuf {
 public:
  std::vector<std::size_t> requests;

 protected:
  xtd::memchunk* new_chunk(std::size_t n) override {
    requests.push_back(n);
    return dstringbuf::new_chunk(n);
  }
};

TEST(DstringbufTest, StrOnAFreshBufferIsEmptyAndFreezes) {
  dstringbuf buf;
  EXPECT_FALSE(buf.frozen());
  EXPECT_EQ(buf.storage_capacity(), kFirst);
  dstring& s = buf.str();
  EXPECT_TRUE(buf.frozen());
  EXPECT_EQ(s.length(), 0u);
  EXPECT_EQ(s.capacity(), kFirst);
  const char* data = s.data();
  dstring& again = buf.str();
  EXPECT_EQ(&again, &s);
  EXPECT_EQ(again.data(), data);
  EXPECT_EQ(again.length(), 0u);
}

TEST(DstringbufTest, BytesThatLeaveOneFreeByteStayInPlace) {
  dstringbuf buf;
  const std::string data = pattern(kFirst - 1);
  ASSERT_EQ(buf.sputn(data.data(), kFirst - 1), static_cast<std::streamsize>(kFirst - 1));
  EXPECT_EQ(buf.chunk_count(), 1u);
  const dstring& s = buf.str();
  EXPECT_EQ(s.capacity(), kFirst) << "nothing should have moved";
  EXPECT_EQ(text(s), data);
}

TEST(DstringbufTest, FillingTheStorageMovesTheBytesToABlockWithRoomForOneMore) {
  dstringbuf buf;
  const std::string data = pattern(kFirst);
  ASSERT_EQ(buf.sputn(data.data(), kFirst), static_cast<std::streamsize>(kFirst));
  EXPECT_EQ(buf.chunk_count(), 1u) << "exactly full: no chunk needed yet";
  const dstring& s = buf.str();
  EXPECT_EQ(s.capacity(), capacityFor(kFirst + 1));
  EXPECT_EQ(text(s), data);
}

TEST(DstringbufTest, BytesAcrossTwoChunksAreGatheredInWrittenOrder) {
  RecordingBuf buf;
  const std::string data = pattern(100);
  std::ostream out(&buf);
  for (char c : data) out.put(c);
  EXPECT_EQ(buf.chunk_count(), 2u);
  EXPECT_EQ(buf.requests, (std::vector<std::size_t>{256}));
  EXPECT_EQ(buf.held_size(), 100u);
  const dstring& s = buf.str();
  EXPECT_EQ(s.length(), 100u);
  EXPECT_EQ(s.capacity(), capacityFor(101));
  EXPECT_EQ(text(s), data);
  EXPECT_EQ(buf.chunk_count(), 0u);
}

TEST(DstringbufTest, OneLargeWriteFillsTheStorageThenOneChunkForTheRest) {
  RecordingBuf buf;
  const std::string data = pattern(1000);
  ASSERT_EQ(buf.sputn(data.data(), 1000), 1000);
  EXPECT_EQ(buf.requests, (std::vector<std::size_t>{1000 - kFirst}));
  EXPECT_EQ(buf.chunk_count(), 2u);
  EXPECT_EQ(text(buf.str()), data);
}

TEST(DstringbufTest, WritesFailWhileFrozenAndResetStartsAtTheStorageStart) {
  dstringbuf buf;
  buf.sputn("abc", 3);
  const char* storage = buf.str().data();
  EXPECT_EQ(buf.sputc('x'), std::char_traits<char>::eof());
  EXPECT_EQ(buf.sputn("xyz", 3), 0);
  EXPECT_EQ(buf.write_bytes("xyz", 3), 0);
  EXPECT_EQ(buf.str().length(), 3u) << "a refused write must not change the gathered bytes";
  buf.reset();
  EXPECT_FALSE(buf.frozen());
  EXPECT_EQ(buf.sputc('y'), 'y');
  const dstring& s = buf.str();
  EXPECT_EQ(s.data(), storage);
  EXPECT_EQ(text(s), "y");
}

TEST(DstringbufTest, TakingTheStringOutLeavesFreshStorageAfterReset) {
  dstringbuf buf;
  const std::string first = pattern(300);
  buf.sputn(first.data(), 300);
  buf.str();
  dstring taken = buf.take_str();
  EXPECT_EQ(text(taken), first);
  EXPECT_EQ(buf.storage_capacity(), 0u);
  buf.reset();
  EXPECT_EQ(buf.storage_capacity(), kFirst);
  buf.sputn("next", 4);
  dstring second = buf.take_str();
  EXPECT_EQ(text(second), "next");
  EXPECT_EQ(text(taken), first) << "the taken string must not share storage with the buffer";
  // take_str gathers by itself when the owner did not call str.
  buf.reset();
  buf.sputn("again", 5);
  EXPECT_EQ(text(buf.take_str()), "again");
}

TEST(DstringbufTest, ResetDropsUngatheredBytesAndKeepsGrownStorage) {
  dstringbuf buf;
  const std::string data = pattern(500);
  buf.sputn(data.data(), 500);
  buf.reset();
  EXPECT_EQ(buf.held_size(), 0u);
  EXPECT_EQ(buf.chunk_count(), 1u);
  EXPECT_EQ(buf.str().length(), 0u);
  // A gathered block larger than the first one is kept for the next round.
  buf.reset();
  buf.sputn(data.data(), 500);
  const std::uint32_t grown = buf.str().capacity();
  EXPECT_EQ(grown, capacityFor(501));
  buf.reset();
  EXPECT_EQ(buf.storage_capacity(), grown);
  RecordingBuf rec;
  rec.sputn(data.data(), 500);
  rec.str();
  rec.reset();
  rec.requests.clear();
  rec.sputn(data.data(), 500);
  EXPECT_TRUE(rec.requests.empty()) << "the grown storage holds 500 bytes without a chunk";
  EXPECT_EQ(text(rec.str()), data);
}

TEST(DstringbufTest, SeekoffAnswersOnlyTheOutputPosition) {
  dstringbuf buf;
  const std::string data = pattern(300);
  buf.sputn(data.data(), 300);
  EXPECT_EQ(buf.pubseekoff(0, std::ios_base::cur, std::ios_base::out), std::streampos(300));
  EXPECT_EQ(buf.pubseekoff(0, std::ios_base::beg, std::ios_base::out), std::streampos(std::streamoff(-1)));
  EXPECT_EQ(text(buf.str()), data);
}

TEST(DstringbufTest, StrAfterPartialReadingGathersOnlyTheUnreadBytes) {
  {
    dstringbuf buf;
    buf.sputn("0123456789", 10);
    EXPECT_EQ(buf.sbumpc(), '0');
    EXPECT_EQ(buf.sbumpc(), '1');
    EXPECT_EQ(text(buf.str()), "23456789");
  }
  {
    dstringbuf buf;
    const std::string data = pattern(100);
    buf.sputn(data.data(), 100);
    std::string got(80, '\0');
    ASSERT_EQ(buf.sgetn(got.data(), 80), 80);
    buf.sgetc();  // drains the storage chunk
    EXPECT_EQ(text(buf.str()), data.substr(80));
  }
}

TEST(DstringbufTest, RepeatedFlushCyclesKeepEveryByte) {
  dstringbuf buf;
  std::string all, flushed;
  for (int round = 0; round < 20; ++round) {
    for (int i = 0; i < 40; ++i) {
      const std::string piece = pattern(static_cast<std::size_t>((round * 37 + i * 11) % 300));
      buf.write_bytes(piece.data(), static_cast<std::streamsize>(piece.size()));
      all += piece;
    }
    dstring out = buf.take_str();
    flushed.append(out.data(), out.length());
    buf.reset();
  }
  EXPECT_EQ(flushed, all);
}

}  // namespace
