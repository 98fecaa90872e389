#include "platform/posix/path_codec.h"

#include "platform/utf16_units.h"

namespace platform::posix {

std::string toNative(const char16_t* path) {
  std::string out;
  for (const char16_t* p = path; *p != u'\0'; ++p) appendUnitAsUtf8(*p, out);
  return out;
}

bool fromNative(const char* bytes, std::size_t size, std::u16string& out) {
  out.clear();
  const auto* p = reinterpret_cast<const unsigned char*>(bytes);
  const auto* end = p + size;
  while (p != end) {
    const unsigned lead = *p++;
    unsigned unit = lead;
    int continuation = 0;
    if (lead >= 0x80u) {
      if ((lead & 0x20u) == 0) {
        unit = lead & 0x1Fu;
        continuation = 1;
      } else if ((lead & 0x10u) == 0) {
        unit = lead & 0x0Fu;
        continuation = 2;
      } else {
        return false;
      }
    }
    for (; continuation > 0; --continuation) {
      if (p == end) return false;
      unit = (unit << 6) | (*p++ & 0x3Fu);
    }
    out.push_back(static_cast<char16_t>(unit));
  }
  // Overlong or stray bytes decode to a unit that encodes differently.
  std::string back;
  back.reserve(size);
  for (char16_t u : out) appendUnitAsUtf8(u, back);
  return back.size() == size && back.compare(0, size, bytes, size) == 0;
}

}  // namespace platform::posix
