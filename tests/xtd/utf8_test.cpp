#include "xtd/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::u16string decode(const std::string& bytes) {
  xtd::dwstring out;
  xtd::utf8_to_wide(bytes.data(), bytes.data() + bytes.size(), out);
  return std::u16string(out.data(), out.length());
}

std::string encode(const std::u16string& units) {
  xtd::dstring out;
  xtd::wide_to_utf8(units.data(), units.data() + units.size(), out);
  return std::string(out.data(), out.length());
}

TEST(Utf8Test, DecodesOneTwoAndThreeByteForms) {
  EXPECT_EQ(decode(""), u"");
  EXPECT_EQ(decode("abc"), u"abc");
  EXPECT_EQ(decode("\xC3\xA4"), u"\u00E4");
  EXPECT_EQ(decode("\xE2\x82\xAC"), u"\u20AC");
}

TEST(Utf8Test, EncodesUnitsAndSurrogatePairs) {
  EXPECT_EQ(encode(u"abc"), "abc");
  EXPECT_EQ(encode(u"\u00E4"), "\xC3\xA4");
  EXPECT_EQ(encode(u"\u20AC"), "\xE2\x82\xAC");
  const std::u16string pair = {char16_t(0xD83D), char16_t(0xDE00)};
  EXPECT_EQ(encode(pair), "\xF0\x9F\x98\x80");
  EXPECT_EQ(decode("\xF0\x9F\x98\x80"), pair);
  // Lone surrogates, and a low one before a high one, keep the three-byte form.
  EXPECT_EQ(encode(std::u16string{char16_t(0xD83D), u'a'}), "\xED\xA0\xBD" "a");
  EXPECT_EQ(encode(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}), "\xED\xB8\x80\xED\xA0\xBD");
  EXPECT_EQ(encode(std::u16string(1, char16_t(0xD83D))), "\xED\xA0\xBD");
}

TEST(Utf8Test, DecodesFourByteFormsToSurrogatePairs) {
  EXPECT_EQ(decode("\xF0\x90\x80\x80"), (std::u16string{char16_t(0xD800), char16_t(0xDC00)}));
  EXPECT_EQ(decode("a\xF0\x9F\x8E\xA5" "b"), (std::u16string{u'a', char16_t(0xD83C), char16_t(0xDFA5), u'b'}));
  EXPECT_EQ(decode("\xF4\x8F\xBF\xBF"), (std::u16string{char16_t(0xDBFF), char16_t(0xDFFF)}));
}

TEST(Utf8Test, CutOffSequencesThrowAndKeepWhatWasDecoded) {
  xtd::dwstring out;
  const std::string bytes = "ab\xE2\x82";
  EXPECT_THROW(xtd::utf8_to_wide(bytes.data(), bytes.data() + bytes.size(), out), xtd::utf8_error);
  EXPECT_EQ(std::u16string(out.data(), out.length()), u"ab");
  EXPECT_THROW(decode("\xC3"), xtd::utf8_error);
}

TEST(Utf8Test, LeadBytesWithBits754SetThrowUnlessAFourByteFormFollows) {
  const std::vector<std::string> faulty = {
      "\xB5",              // continuation byte with bit 4 set
      "\xF5\x80\x80\x80",  // lead past 0xF4
      "\xF8\x88\x80\x80\x80",
      "\xF0\x9F\x98" "A",  // not a continuation byte
      "\xF0\x8F\xBF\xBF",  // overlong: below 0x10000
      "\xF4\x90\x80\x80",  // beyond 0x10FFFF
      "\xF0\x9F\x98",      // cut off
  };
  for (const std::string& bytes : faulty) {
    EXPECT_THROW(decode(bytes), xtd::utf8_error) << testing::PrintToString(bytes);
  }
  try {
    decode("\xFF");
    FAIL() << "no exception";
  } catch (const xtd::utf8_error& e) {
    EXPECT_STREQ(e.what(), "utf-8 mbc imcomplete");
  }
}

TEST(Utf8Test, OnlyBits754OfTheLeadAndLowSixOfContinuationsCount) {
  // A stray continuation byte in lead position starts a two-byte form.
  EXPECT_EQ(decode("\x85" "A"), std::u16string(1, char16_t(0x0141)));
  // An overlong zero is decoded as it stands.
  EXPECT_EQ(decode(std::string("\xC0\x80", 2)), std::u16string(1, char16_t(0)));
}

TEST(Utf8Test, EveryUnitSurvivesTheRoundTrip) {
  std::u16string all;
  for (unsigned u = 1; u <= 0xFFFF; ++u) all.push_back(static_cast<char16_t>(u));
  // Every surrogate alone, and every high one paired with a low one.
  for (unsigned u = 0xD800; u <= 0xDFFF; ++u) all += {static_cast<char16_t>(u), u'x'};
  for (unsigned u = 0xD800; u <= 0xDBFF; ++u) all += {static_cast<char16_t>(u), static_cast<char16_t>(0xDC00 + (u & 0x3FF))};
  EXPECT_EQ(decode(encode(all)), all);
}

TEST(Utf8Test, ConvertersAppendToWhatTheOutputHolds) {
  xtd::dstring out = xtd::dstring::from_cstr("x");
  const std::u16string units = u"yz";
  xtd::wide_to_utf8(units.data(), units.data() + units.size(), out);
  EXPECT_EQ(std::string(out.data(), out.length()), "xyz");
}

}  // namespace
