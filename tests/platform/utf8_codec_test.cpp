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

}  // namespace
