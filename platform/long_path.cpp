#include "platform/long_path.h"

namespace platform {

namespace {

bool isDrivePath(std::u16string_view path) {
  if (path.size() < 3 || path[1] != u':' || path[2] != u'\\') return false;
  const char16_t letter = path[0];
  return (letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z');
}

}  // namespace

bool hasLongPathPrefix(std::u16string_view path) {
  return path.starts_with(u"\\\\?\\") || path.starts_with(u"\\\\.\\");
}

std::u16string withLongPathPrefix(std::u16string_view path) {
  if (path.size() < kMaxPath || hasLongPathPrefix(path)) return std::u16string(path);
  if (isDrivePath(path)) return u"\\\\?\\" + std::u16string(path);
  if (path.starts_with(u"\\\\")) return u"\\\\?\\UNC\\" + std::u16string(path.substr(2));
  return std::u16string(path);
}

}  // namespace platform
