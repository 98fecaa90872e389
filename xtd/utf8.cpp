#include "xtd/utf8.h"

#include "platform/utf8_codec.h"

namespace xtd {

dwstring& utf8_to_wide(const char* first, const char* last, dwstring& out) {
  while (first != last) {
    const platform::utf8::Decoded d = platform::utf8::decodeOne(first, last);
    if (d.bytes == 0) throw utf8_error();
    for (std::size_t i = 0; i < d.count; ++i) out.push_back(d.units[i]);
    first += d.bytes;
  }
  return out;
}

dstring& wide_to_utf8(const char16_t* first, const char16_t* last, dstring& out) {
  while (first != last) {
    const platform::utf8::Encoded e = platform::utf8::encodeOne(first, last);
    for (std::size_t i = 0; i < e.count; ++i) out.push_back(e.bytes[i]);
    first += e.units;
  }
  return out;
}

}  // namespace xtd
