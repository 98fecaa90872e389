#include "xtd/olwstream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "xtd/dstringbuf.h"

namespace {

using xtd::olwstream;

// Counts the slow-path calls the stream makes.
class CountingBuf : public xtd::dstringbuf {
 public:
  int xsputnCalls = 0;

 protected:
  std::streamsize xsputn(const char* p, std::streamsize n) override {
    ++xsputnCalls;
    return dstringbuf::xsputn(p, n);
  }
};

std::string text(const xtd::dstring& s) { return std::string(s.data(), s.length()); }

TEST(OlwstreamTest, SmallWriteIntoRoomOnlyAdvancesThePutPosition) {
  CountingBuf buf;
  olwstream out(&buf);
  out.write("ab", 2);
  const std::uint32_t chunks = buf.chunk_count();
  out.write("wxyz", 4);
  EXPECT_EQ(buf.xsputnCalls, 0);
  EXPECT_EQ(buf.chunk_count(), chunks);
  EXPECT_TRUE(out.good());
  EXPECT_EQ(text(buf.str()), "abwxyz");
}

TEST(OlwstreamTest, WriteLargerThanThePutAreaGoesThroughXsputnAndStaysGood) {
  CountingBuf buf;
  olwstream out(&buf);
  std::string data(5000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13);
  out.write(data.data(), 5000);
  EXPECT_EQ(buf.xsputnCalls, 1);
  EXPECT_TRUE(out.good());
  EXPECT_EQ(text(buf.str()), data);
}

TEST(OlwstreamTest, WriteToAFrozenBufferSetsFailbitWhichOutlivesReset) {
  CountingBuf buf;
  olwstream out(&buf);
  out.write("abc", 3);
  buf.str();
  out.write("d", 1);
  EXPECT_TRUE(out.fail());
  EXPECT_FALSE(out.bad());
  EXPECT_EQ(out.rdstate(), std::ios_base::failbit);
  buf.reset();
  // A failed stream still passes its writes on.
  out.write("ef", 2);
  EXPECT_EQ(out.rdstate(), std::ios_base::failbit);
  EXPECT_EQ(text(buf.str()), "ef");
  out.clear();
  EXPECT_TRUE(out.good());
}

TEST(OlwstreamTest, EmptyOrNegativeWriteChangesNothing) {
  CountingBuf buf;
  olwstream out(&buf);
  buf.str();  // frozen: any real write would fail
  out.write("abc", 0);
  out.write("abc", -5);
  EXPECT_TRUE(out.good());
  EXPECT_EQ(buf.xsputnCalls, 0);
  EXPECT_EQ(buf.str().length(), 0u);
}

TEST(OlwstreamTest, U32WriteStoresTheValueInMemoryOrder) {
  xtd::dstringbuf buf;
  olwstream out(&buf);
  const std::uint32_t value = 0x11223344u;
  out.write_u32(value);
  const xtd::dstring& s = buf.str();
  ASSERT_EQ(s.length(), 4u);
  std::uint32_t back = 0;
  std::memcpy(&back, s.data(), 4);
  EXPECT_EQ(back, value);
}

TEST(OlwstreamTest, WorksOverAnyStandardStreamBuffer) {
  std::stringbuf sb;
  olwstream out(&sb);
  out.write("hello", 5);
  out.write(" world", 6);
  EXPECT_TRUE(out.good());
  EXPECT_EQ(sb.str(), "hello world");
  EXPECT_EQ(out.rdbuf(), &sb);
}

TEST(OlwstreamTest, StreamWithoutABufferIsBadAndItsWritesFailSafely) {
  olwstream out(nullptr);
  EXPECT_TRUE(out.bad());
  EXPECT_EQ(out.rdbuf(), nullptr);
  out.write("abc", 3);
  EXPECT_TRUE(out.bad());
  EXPECT_TRUE(out.rdstate() & std::ios_base::failbit);
}

TEST(OlwstreamTest, GlobalStreamsWrapTheStandardOutputAndErrorBuffers) {
  EXPECT_EQ(xtd::lw_stdout().rdbuf(), std::cout.rdbuf());
  EXPECT_EQ(xtd::lw_stderr().rdbuf(), std::cerr.rdbuf());
  EXPECT_TRUE(xtd::lw_stdout().good());
  EXPECT_TRUE(xtd::lw_stderr().good());
  EXPECT_EQ(&xtd::lw_stdout(), &xtd::lw_stdout()) << "the streams are made once";
}

}  // namespace
