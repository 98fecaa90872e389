#include "platform/utf8_codec.h"

#include <algorithm>
#include <cstring>

namespace platform::utf8 {

namespace {

bool isContinuation(unsigned byte) { return (byte & 0xC0u) == 0x80u; }

bool isSurrogate(unsigned unit) { return unit >= 0xD800u && unit < 0xE000u; }

}  // namespace

Decoded decodeOne(const char* p, const char* end) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  const auto available = static_cast<std::size_t>(end - p);
  const unsigned lead = b[0];
  Decoded d;
  unsigned unit = 0;
  if ((lead & 0x80u) == 0) {
    d.bytes = 1;
    unit = lead;
  } else if ((lead & 0x20u) == 0) {
    if (available < 2) return d;
    d.bytes = 2;
    unit = (lead & 0x1Fu) << 6 | (b[1] & 0x3Fu);
  } else if ((lead & 0x10u) == 0) {
    if (available < 3) return d;
    d.bytes = 3;
    unit = (lead & 0x0Fu) << 12 | (b[1] & 0x3Fu) << 6 | (b[2] & 0x3Fu);
  } else {
    if (lead < 0xF0u || lead > 0xF4u || available < 4) return d;
    if (!isContinuation(b[1]) || !isContinuation(b[2]) || !isContinuation(b[3])) return d;
    const unsigned scalar = (lead & 0x07u) << 18 | (b[1] & 0x3Fu) << 12 | (b[2] & 0x3Fu) << 6 | (b[3] & 0x3Fu);
    if (scalar < 0x10000u || scalar > 0x10FFFFu) return d;
    d.bytes = 4;
    d.count = 2;
    d.units[0] = static_cast<char16_t>(0xD800u + ((scalar - 0x10000u) >> 10));
    d.units[1] = static_cast<char16_t>(0xDC00u + ((scalar - 0x10000u) & 0x3FFu));
    return d;
  }
  d.count = 1;
  d.units[0] = static_cast<char16_t>(unit);
  return d;
}

Encoded encodeOne(const char16_t* p, const char16_t* end) {
  Encoded e;
  const unsigned u = p[0];
  auto put = [&e](unsigned byte) { e.bytes[e.count++] = static_cast<char>(byte); };
  e.units = 1;
  if (u < 0x80u) {
    put(u);
  } else if (u < 0x800u) {
    put(0xC0u | (u >> 6));
    put(0x80u | (u & 0x3Fu));
  } else if (u >= 0xD800u && u < 0xDC00u && end - p >= 2 && p[1] >= 0xDC00u && p[1] < 0xE000u) {
    const unsigned scalar = 0x10000u + ((u - 0xD800u) << 10) + (p[1] - 0xDC00u);
    e.units = 2;
    put(0xF0u | (scalar >> 18));
    put(0x80u | ((scalar >> 12) & 0x3Fu));
    put(0x80u | ((scalar >> 6) & 0x3Fu));
    put(0x80u | (scalar & 0x3Fu));
  } else {
    put(0xE0u | (u >> 12));
    put(0x80u | ((u >> 6) & 0x3Fu));
    put(0x80u | (u & 0x3Fu));
  }
  return e;
}

bool decode(const char* first, const char* last, std::u16string& out) {
  while (first != last) {
    const Decoded d = decodeOne(first, last);
    if (d.bytes == 0) return false;
    out.append(d.units, d.count);
    first += d.bytes;
  }
  return true;
}

void encode(const char16_t* first, const char16_t* last, std::string& out) {
  while (first != last) {
    const Encoded e = encodeOne(first, last);
    out.append(e.bytes, e.count);
    first += e.units;
  }
}

bool decodeExactly(const char* bytes, std::size_t size, std::u16string& out) {
  out.clear();
  if (!decode(bytes, bytes + size, out)) return false;
  std::string back;
  back.reserve(size);
  encode(out.data(), out.data() + out.size(), back);
  return back.size() == size && back.compare(0, size, bytes, size) == 0;
}

namespace {

// The valid UTF-8 sequence at the start of [p, end), or its first byte kept
// as a lone surrogate.
Decoded decodeKeepingOne(const char* p, const char* end) {
  Decoded d = decodeOne(p, end);
  // Neither an encoded surrogate nor any but the shortest, strict form of
  // a character is valid UTF-8, though the program's codec reads them.
  bool valid = d.bytes != 0 && !(d.count == 1 && isSurrogate(d.units[0]));
  if (valid) {
    const Encoded e = encodeOne(d.units, d.units + d.count);
    valid = e.count == d.bytes && std::memcmp(e.bytes, p, d.bytes) == 0;
  }
  if (!valid) {
    d.bytes = 1;
    d.count = 1;
    d.units[0] = static_cast<char16_t>(0xDC00u + static_cast<unsigned char>(*p));
  }
  return d;
}

}  // namespace

void decodeKeepingBytes(const char* bytes, std::size_t size, std::u16string& out) {
  out.clear();
  for (const char* p = bytes; p != bytes + size;) {
    const Decoded d = decodeKeepingOne(p, bytes + size);
    out.append(d.units, d.count);
    p += d.bytes;
  }
}

KeptBytes encodeKeepingBytes(const char16_t* first, const char16_t* last, char* out, std::size_t capacity) {
  KeptBytes result;
  bool kept = false;
  for (const char16_t* p = first; p != last;) {
    Encoded e = encodeOne(p, last);
    if (e.units == 1 && isSurrogate(*p)) {
      if (*p < 0xDC80u || *p > 0xDCFFu) return {KeptBytes::Status::NoSuchName, 0};
      e.count = 1;
      e.bytes[0] = static_cast<char>(*p - 0xDC00u);
      kept = true;
    }
    if (capacity - result.size < e.count) return {KeptBytes::Status::TooLong, 0};
    std::memcpy(out + result.size, e.bytes, e.count);
    result.size += e.count;
    p += e.units;
  }
  if (!kept) return result;
  // Kept bytes side by side may spell a character, which is what the bytes
  // would decode to: the units are then no name's.
  const char16_t* p = first;
  for (const char* b = out; b != out + result.size;) {
    const Decoded d = decodeKeepingOne(b, out + result.size);
    if (static_cast<std::size_t>(last - p) < d.count || !std::equal(d.units, d.units + d.count, p)) {
      return {KeptBytes::Status::NoSuchName, 0};
    }
    p += d.count;
    b += d.bytes;
  }
  if (p != last) return {KeptBytes::Status::NoSuchName, 0};
  return result;
}

}  // namespace platform::utf8
