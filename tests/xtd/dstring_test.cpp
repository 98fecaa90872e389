#include "xtd/dstring.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using xtd::dstring;
using xtd::dwstring;
using xtd::strview;
using xtd::wstrview;

// Capacity that the block rule gives a request of n elements of type T.
template <class T>
std::uint32_t capacityFor(std::uint32_t n) {
  const std::uint32_t header = xtd::basic_dstring<T>::kHeaderSize;
  const std::uint32_t bytes = (header + n * sizeof(T) + 7) / 8 * 8;
  return (bytes - header) / sizeof(T);
}

std::string text(const dstring& s) { return std::string(s.data(), s.length()); }

strview sv(const char* z) { return strview(z, static_cast<std::uint32_t>(std::char_traits<char>::length(z))); }

TEST(DstringTest, EmptyStringsShareOneBlockAndNeverAllocate) {
  dstring a;
  dstring b = dstring::from_cstr("");
  dwstring w;
  EXPECT_TRUE(a.on_shared_block());
  EXPECT_TRUE(b.on_shared_block());
  EXPECT_TRUE(w.on_shared_block());
  EXPECT_EQ(a.data(), b.data());
  EXPECT_EQ(a.capacity(), 0u);
  // Clearing, assigning and appending nothing must leave the shared block alone.
  a.clear();
  a.assign(strview());
  a.append(strview());
  a.resize(0);
  EXPECT_TRUE(a.on_shared_block());
  EXPECT_EQ(a.length(), 0u);
}

TEST(DstringTest, BlockCapacityFollowsTheRoundedBlockSize) {
  dstring abc = dstring::from_cstr("abc");
  EXPECT_EQ(abc.length(), 3u);
  EXPECT_EQ(abc.capacity(), capacityFor<char>(3));
  dstring big = dstring(sv("0123456789012345678901234567890123456789012345678901234567890123"));
  EXPECT_EQ(big.length(), 64u);
  EXPECT_EQ(big.capacity(), capacityFor<char>(64));
  // On this build the header is three words; the block is a multiple of 8.
  EXPECT_EQ(dstring::kHeaderSize, 2 * sizeof(std::uint32_t) + sizeof(void*));
  EXPECT_EQ((dstring::kHeaderSize + abc.capacity()) % 8, 0u);
}

TEST(DstringTest, PushBackGrowsByHalfTheCapacity) {
  dstring s;
  s.push_back('x');
  const std::uint32_t first = capacityFor<char>(1);
  EXPECT_EQ(s.capacity(), first);
  for (std::uint32_t i = 1; i < first; ++i) s.push_back('x');
  EXPECT_EQ(s.capacity(), first);
  s.push_back('y');
  EXPECT_EQ(s.capacity(), capacityFor<char>(first + first / 2));
  EXPECT_EQ(s.length(), first + 1);
  EXPECT_EQ(text(s), std::string(first, 'x') + "y");
}

TEST(DstringTest, AppendOfItselfWithGrowthDoublesTheContents) {
  dstring s = dstring::from_cstr("abcdefgh");
  ASSERT_LT(s.capacity(), 2 * s.length());  // the append must grow
  s.append(s.view());
  EXPECT_EQ(text(s), "abcdefghabcdefgh");
  // And without growth, from the middle of its own storage.
  s.reserve(100);
  s.append(strview(s.data() + 4, 4));
  EXPECT_EQ(text(s), "abcdefghabcdefghefgh");
}

TEST(DstringTest, AssignOfOwnSuffixAndPrefixKeepsTheRightBytes) {
  dstring s = dstring::from_cstr("hello world");
  s.assign(strview(s.data() + 6, 5));
  EXPECT_EQ(text(s), "world");
  dstring t = dstring::from_cstr("abcdef");
  t.assign(strview(t.data(), 3));
  EXPECT_EQ(text(t), "abc");
}

TEST(DstringTest, AssignThatGrowsCopiesFromTheOldBlock) {
  dstring s = dstring::from_cstr("xy");
  dstring longer = dstring::from_cstr("0123456789abcdefghijklmnopqrstuvwxyz");
  s.assign(longer.view());
  EXPECT_EQ(text(s), "0123456789abcdefghijklmnopqrstuvwxyz");
}

TEST(DstringTest, CStrTerminatesWithoutCountingAndGrowsWhenFull) {
  dstring s;
  const std::uint32_t cap = capacityFor<char>(1);
  for (std::uint32_t i = 0; i < cap; ++i) s.push_back('a');
  ASSERT_EQ(s.length(), s.capacity());
  const char* z = s.c_str();
  EXPECT_EQ(std::string(z), std::string(cap, 'a'));
  EXPECT_EQ(s.length(), cap);
  EXPECT_GT(s.capacity(), cap);
}

TEST(DstringTest, ResizeZeroFillsAndKeepsStorageWhenShrinking) {
  dwstring w(wstrview(u"ab", 2));
  w.resize(5);
  ASSERT_EQ(w.length(), 5u);
  EXPECT_EQ(w[0], u'a');
  EXPECT_EQ(w[2], 0);
  EXPECT_EQ(w[3], 0);
  EXPECT_EQ(w[4], 0);
  const std::uint32_t cap = w.capacity();
  w.resize(2);
  EXPECT_EQ(w.length(), 2u);
  EXPECT_EQ(w.capacity(), cap);
}

TEST(DstringTest, ExtendHandsOutUninitialisedRoomAtTheEnd) {
  dstring s = dstring::from_cstr("ab");
  char* p = s.extend(3);
  EXPECT_EQ(p, s.data() + 2);
  p[0] = 'c';
  p[1] = 'd';
  p[2] = 'e';
  EXPECT_EQ(text(s), "abcde");
}

TEST(DstringTest, CopiesAreIndependentAndMovesLeaveTheSourceEmpty) {
  dstring a = dstring::from_cstr("abc");
  dstring b = a;
  b.push_back('d');
  EXPECT_EQ(text(a), "abc");
  EXPECT_EQ(text(b), "abcd");
  dstring c = std::move(b);
  EXPECT_EQ(text(c), "abcd");
  EXPECT_TRUE(b.on_shared_block());  // NOLINT(bugprone-use-after-move)
}

TEST(DstringTest, StreamOutputWritesExactlyTheLength) {
  dstring s = dstring(strview("a\0b", 3));
  std::ostringstream out;
  out << s;
  EXPECT_EQ(out.str(), std::string("a\0b", 3));
}

TEST(StrviewTest, EqualsIsExactAndCaseSensitive) {
  EXPECT_FALSE(xtd::equals(wstrview(u"avd", 3), wstrview(u"AVD", 3)));
  EXPECT_TRUE(xtd::equals(wstrview(u"avd", 3), wstrview(u"avd", 3)));
  EXPECT_TRUE(xtd::equals(wstrview(), wstrview()));
  EXPECT_FALSE(xtd::equals(wstrview(u"ab", 2), u"abc"));
  EXPECT_TRUE(xtd::equals(wstrview(u"ab", 2), u"ab"));
  EXPECT_FALSE(xtd::equals(wstrview(u"abc", 3), u"ab"));
  // A zero inside the view never matches the terminator.
  EXPECT_FALSE(xtd::equals(wstrview(u"a\0", 2), u"a"));
  EXPECT_TRUE(xtd::equals(wstrview(), u""));
}

}  // namespace
