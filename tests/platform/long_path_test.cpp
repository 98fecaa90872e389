#include "platform/long_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// `prefix` followed by components until the path is exactly `length` units.
std::u16string pathOfLength(const std::u16string& prefix, std::size_t length) {
  std::u16string path = prefix;
  while (path.size() < length) path += (path.size() % 20 == 19) ? u'\\' : u'a';
  path.back() = u'z';
  return path;
}

TEST(LongPathTest, PrefixesAbsolutePathsOfMaxPathUnitsOrMore) {
  const std::u16string drive259 = pathOfLength(u"C:\\", 259);
  const std::u16string drive260 = pathOfLength(u"C:\\", 260);
  const std::u16string unc = pathOfLength(u"\\\\server\\share\\", 300);
  const std::u16string prefixed = u"\\\\?\\" + pathOfLength(u"C:\\", 300);
  const std::u16string prefixedUnc = u"\\\\?\\UNC\\" + pathOfLength(u"server\\share\\", 300);
  const std::u16string device = pathOfLength(u"\\\\.\\C:\\", 300);
  const std::u16string relative = pathOfLength(u"dir\\", 300);
  const struct {
    std::u16string given;
    std::u16string expected;
  } cases[] = {
      {u"C:\\short\\cam.avd", u"C:\\short\\cam.avd"},
      {u"\\\\server\\share\\cam.avd", u"\\\\server\\share\\cam.avd"},
      {drive259, drive259},
      {drive260, u"\\\\?\\" + drive260},
      {pathOfLength(u"z:\\", 400), u"\\\\?\\" + pathOfLength(u"z:\\", 400)},
      {unc, u"\\\\?\\UNC\\" + unc.substr(2)},
      {prefixed, prefixed},
      {prefixedUnc, prefixedUnc},
      {device, device},
      {relative, relative},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::withLongPathPrefix(c.given), c.expected) << c.given.size() << " units";
  }
}

}  // namespace
