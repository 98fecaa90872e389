#include "xtd/utf8.h"

namespace xtd {

dwstring& utf8_to_wide(const char* first, const char* last, dwstring& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(first);
  const auto* end = reinterpret_cast<const unsigned char*>(last);
  auto next = [&]() -> unsigned {
    if (p == end) throw utf8_error();
    return *p++ & 0x3Fu;
  };
  while (p != end) {
    const unsigned lead = *p++;
    unsigned unit;
    if ((lead & 0x80u) == 0) {
      unit = lead;
    } else if ((lead & 0x20u) == 0) {
      unit = (lead & 0x1Fu) << 6;
      unit |= next();
    } else if ((lead & 0x10u) == 0) {
      unit = (lead & 0x0Fu) << 12;
      unit |= next() << 6;
      unit |= next();
    } else {
      throw utf8_error();
    }
    out.push_back(static_cast<char16_t>(unit));
  }
  return out;
}

dstring& wide_to_utf8(const char16_t* first, const char16_t* last, dstring& out) {
  for (const char16_t* p = first; p != last; ++p) {
    const unsigned u = *p;
    if (u < 0x80u) {
      out.push_back(static_cast<char>(u));
    } else if (u < 0x800u) {
      out.push_back(static_cast<char>(0xC0u | ((u >> 6) & 0x1Fu)));
      out.push_back(static_cast<char>(0x80u | (u & 0x3Fu)));
    } else {
      out.push_back(static_cast<char>(0xE0u | ((u >> 12) & 0x0Fu)));
      out.push_back(static_cast<char>(0x80u | ((u >> 6) & 0x3Fu)));
      out.push_back(static_cast<char>(0x80u | (u & 0x3Fu)));
    }
  }
  return out;
}

}  // namespace xtd
