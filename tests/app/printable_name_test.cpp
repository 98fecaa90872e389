#include "app/printable_name.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "platform/paths.h"

namespace {

using namespace std::string_view_literals;

// Every name the console shows stays one stretch of one line: if this
// failed, a name could end a report line and forge the next one, or send
// the terminal a control sequence.
TEST(PrintableNameTest, EscapesWhatATerminalWouldActOnAndNothingElse) {
  const std::string backslash = platform::kPathSeparator == u'\\' ? "\\" : "\\\\";
  const struct {
    std::u16string_view name;
    std::string shown;
  } cases[] = {
      {u"/srv/rec/cam 1/0412.avd", "/srv/rec/cam 1/0412.avd"},
      {u"caf\u00e9 \U0001F4C1", "caf\xC3\xA9 \xF0\x9F\x93\x81"},
      {u"cam1\navdconv: 0 converted, 0 kept, 0 skipped\n", "cam1\\navdconv: 0 converted, 0 kept, 0 skipped\\n"},
      {u"\t\r\x1b[31m\x01\x1f"sv, "\\t\\r\\x1b[31m\\x01\\x1f"},
      {u"a\0b"sv, "a\\x00b"},
      {u"\x7f\x80\x9f\xa0", "\\x7f\\u0080\\u009f\xC2\xA0"},
      {u"a\\x41", "a" + backslash + "x41"},
      {u"cam\n1\xDCFF", "cam\\n1\\xff"},
      {u"\xDC80" u"b\xDC7F\xDD00", "\\x80b\\udc7f\\udd00"},
      {u"\xD800" u"b\xDBFF", "\\ud800b\\udbff"},
      {u"\xD800\xDC80", "\xF0\x90\x82\x80"},  // a pair is a character, whatever its low half
  };
  for (const auto& c : cases) {
    EXPECT_EQ(printableName(xtd::wstrview(c.name.data(), static_cast<std::uint32_t>(c.name.size()))), c.shown)
        << testing::PrintToString(c.shown);
  }
}

}  // namespace
