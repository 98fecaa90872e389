#include "app/printable_name.h"

#include "platform/paths.h"
#include "platform/utf8_codec.h"

namespace {

bool isHighSurrogate(unsigned u) { return u >= 0xD800u && u < 0xDC00u; }
bool isLowSurrogate(unsigned u) { return u >= 0xDC00u && u < 0xE000u; }

void escape(std::string& out, char kind, unsigned value, int digits) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '\\';
  out += kind;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xFu];
}

}  // namespace

std::string printableName(xtd::wstrview name) {
  std::string out;
  out.reserve(name.length);
  const char16_t* p = name.data;
  const char16_t* const end = p + name.length;
  while (p != end) {
    const unsigned u = *p;
    const bool paired = isHighSurrogate(u) && end - p >= 2 && isLowSurrogate(p[1]);
    if (u == u'\t') {
      out += "\\t";
    } else if (u == u'\n') {
      out += "\\n";
    } else if (u == u'\r') {
      out += "\\r";
    } else if (u < 0x20u || u == 0x7Fu) {
      escape(out, 'x', u, 2);
    } else if (u >= 0x80u && u <= 0x9Fu) {
      escape(out, 'u', u, 4);
    } else if (u == u'\\' && platform::kPathSeparator != u'\\') {
      // Doubled where a name may hold one, so that no name reads as an escape.
      out += "\\\\";
    } else if (u >= 0xDC80u && u <= 0xDCFFu) {
      // A low surrogate reached here has no high one before it.
      escape(out, 'x', u - 0xDC00u, 2);
    } else if ((isHighSurrogate(u) && !paired) || isLowSurrogate(u)) {
      escape(out, 'u', u, 4);
    } else {
      const platform::utf8::Encoded e = platform::utf8::encodeOne(p, end);
      out.append(e.bytes, e.count);
      p += e.units;
      continue;
    }
    ++p;
  }
  return out;
}

std::string printableBytes(const std::string& bytes) {
  std::u16string units;
  platform::utf8::decodeKeepingBytes(bytes.data(), bytes.size(), units);
  return printableName(xtd::wstrview(units.data(), static_cast<std::uint32_t>(units.size())));
}
