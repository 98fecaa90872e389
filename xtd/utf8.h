#pragma once

#include <stdexcept>

#include "xtd/dstring.h"

namespace xtd {

// Raised by utf8_to_wide for an undecodable lead byte or a cut-off sequence.
class utf8_error : public std::runtime_error {
 public:
  utf8_error() : std::runtime_error("utf-8 mbc imcomplete") {}
};

// Decodes UTF-8 sequences of one to three bytes from [first, last) and
// appends one UTF-16 unit per sequence to `out`. Units decoded before a
// faulty sequence stay appended.
dwstring& utf8_to_wide(const char* first, const char* last, dwstring& out);

// Encodes every UTF-16 unit of [first, last) by itself (surrogates become
// three bytes each) and appends the bytes to `out`.
dstring& wide_to_utf8(const char16_t* first, const char16_t* last, dstring& out);

}  // namespace xtd
