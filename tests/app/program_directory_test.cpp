#include "app/program_directory.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/paths.h"

namespace {

std::u16string directoryOf(const std::u16string& path) {
  const xtd::dwstring dir = directoryOfProgram(xtd::wstrview(path.data(), static_cast<std::uint32_t>(path.size())));
  return std::u16string(dir.data(), dir.length());
}

TEST(ProgramDirectoryTest, CutsAfterTheLastSeparatorOfAPathOfAnyLength) {
  const char16_t sep = platform::kPathSeparator;
  // Far beyond the old fixed buffer, with non-BMP characters in it.
  std::u16string dir(1, sep);
  for (int i = 0; i < 300; ++i) dir += std::u16string(u"d\U0001F4C1") + sep;
  const struct {
    std::u16string path;
    std::u16string expected;
  } cases[] = {
      {dir + u"avdconv", dir},
      {dir + u"\U0001F3A5", dir},
      {u"", u""},  // no path reported: no directory
  };
  for (const auto& c : cases) {
    EXPECT_EQ(directoryOf(c.path), c.expected) << c.path.size() << " units";
  }
}

}  // namespace
