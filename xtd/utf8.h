#pragma once

#include <stdexcept>

#include "xtd/dstring.h"

namespace xtd {

// Raised by utf8_to_wide for an undecodable lead byte or a cut-off sequence.
class utf8_error : public std::runtime_error {
 public:
  utf8_error() : std::runtime_error("utf-8 mbc imcomplete") {}
};

// Decodes the UTF-8 of [first, last) and appends the UTF-16 units to `out`
// (platform/utf8_codec.h: lenient one- to three-byte forms, four-byte forms
// as surrogate pairs). Units decoded before a faulty sequence stay appended.
dwstring& utf8_to_wide(const char* first, const char* last, dwstring& out);

// Encodes the UTF-16 units of [first, last) and appends the bytes to `out`:
// a surrogate pair as four bytes, a lone surrogate as three.
dstring& wide_to_utf8(const char16_t* first, const char16_t* last, dstring& out);

}  // namespace xtd
