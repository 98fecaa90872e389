#include "platform/utf8_codec.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The rule by which a name or argument is refused: its bytes must decode
// and encode back unchanged.
TEST(Utf8CodecTest, DecodesExactlyOnlyBytesThatSurviveTheTripBack) {
  const struct {
    std::string bytes;
    bool survives;
  } cases[] = {
      {"plain", true},
      {"cam \xF0\x9F\x8E\xA5.avd", true},
      {"\xED\xA0\xBD", true},                  // a lone surrogate, as the encoder writes it
      {"\x85" "A", false},                     // lenient form of U+0141
      {std::string("\xC0\x80", 2), false},     // overlong zero
      {"\xED\xA0\xBD\xED\xB8\x80", false},     // a surrogate pair as two three-byte forms
      {"dir\xFF", false},
      {"\xE2\x82", false},                     // cut off
  };
  for (const auto& c : cases) {
    std::u16string units = u"old";
    EXPECT_EQ(platform::utf8::decodeExactly(c.bytes.data(), c.bytes.size(), units), c.survives)
        << testing::PrintToString(c.bytes);
    if (c.survives) {
      std::string back;
      platform::utf8::encode(units.data(), units.data() + units.size(), back);
      EXPECT_EQ(back, c.bytes);
    }
  }
}

// How a POSIX name travels as a path: a byte changed on the way would make
// the archive converted and deleted another file, or none.
TEST(Utf8CodecTest, NamesKeepTheirBytesThroughUnitsAndBack) {
  const struct {
    std::string bytes;  // empty: the units name no file, not another one either
    std::u16string units;
  } cases[] = {
      {"caf\xE9.avd", u"caf\xDCE9.avd"},                                 // Latin-1
      {"a\x80z", u"a\xDC80z"},                                           // a lone continuation byte
      {"\xC0\xAF", u"\xDCC0\xDCAF"},                                     // an overlong '/'
      {"\xED\xA0\x80\xED\xBF\xBF", u"\xDCED\xDCA0\xDC80\xDCED\xDCBF\xDCBF"},  // encoded surrogates
      {"\xF0\x9F\x8E.avd", u"\xDCF0\xDC9F\xDC8E.avd"},                     // a cut four-byte sequence
      {"cam \xF0\x9F\x8E\xA5 \xC3\xA9.avd", u"cam \U0001F3A5 \u00E9.avd"},  // valid UTF-8
      {"", u"\xD83C.avd"},
      {"", u"\xDC2F"},  // not '/'
      {"", u"caf\xDCC3\xDCA9"},  // kept bytes that spell "\u00E9"
  };
  for (const auto& c : cases) {
    char back[64];
    const auto kept = platform::utf8::encodeKeepingBytes(c.units.data(), c.units.data() + c.units.size(), back, 64);
    EXPECT_EQ(kept.status == platform::utf8::KeptBytes::Status::Encoded, !c.bytes.empty());
    EXPECT_EQ(std::string(back, kept.size), c.bytes);
    if (c.bytes.empty()) continue;
    std::u16string units;
    platform::utf8::decodeKeepingBytes(c.bytes.data(), c.bytes.size(), units);
    EXPECT_EQ(units, c.units) << testing::PrintToString(c.bytes);
  }
}

}  // namespace
