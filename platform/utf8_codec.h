#pragma once

#include <cstddef>
#include <string>

// The one converter between UTF-8 bytes and UTF-16 units in the program.
// Pure functions: every layer above, and the back ends, may use them.
namespace platform::utf8 {

// One decoded sequence: `bytes` is 0 when no sequence starts at the given
// position or it is cut off; otherwise `count` (1 or 2) units are in `units`.
struct Decoded {
  std::size_t bytes = 0;
  std::size_t count = 0;
  char16_t units[2] = {};
};

// Decodes the sequence at the start of [p, end), which must not be empty.
// One to three bytes keep the historic lenient forms: only the lead's bits
// 7, 5 and 4 choose the length and only the low six bits of the following
// bytes count. Four bytes are strict (lead 0xF0-0xF4, three continuation
// bytes, a scalar 0x10000-0x10FFFF) and give a surrogate pair.
Decoded decodeOne(const char* p, const char* end);

// One encoded sequence: `units` (1 or 2) units read, `count` bytes in `bytes`.
struct Encoded {
  std::size_t units = 0;
  std::size_t count = 0;
  char bytes[4] = {};
};

// Encodes the unit at the start of [p, end), which must not be empty. A high
// surrogate followed by a low one is encoded together as four bytes; a lone
// surrogate gets the three-byte form, so every unit sequence survives the
// trip to bytes and back.
Encoded encodeOne(const char16_t* p, const char16_t* end);

// Appends the decoding of [first, last) to `out`. False at the first faulty
// sequence; the units decoded before it stay appended.
bool decode(const char* first, const char* last, std::u16string& out);

// Appends the encoding of [first, last) to `out`.
void encode(const char16_t* first, const char16_t* last, std::string& out);

// Replaces `out` with the decoding of the bytes when they also encode back
// to exactly themselves; false otherwise. Only then does the decoded text
// name what the bytes name: lenient or overlong forms, and a surrogate pair
// spelled as two three-byte forms, would name something else.
bool decodeExactly(const char* bytes, std::size_t size, std::u16string& out);

// Keeps every valid UTF-8 sequence of a name as its characters and every
// other byte as the lone surrogate U+DC00 + byte, which no valid sequence
// yields (only bytes 0x80-0xFF can be such a byte): the units then tell the
// name's bytes exactly, and encodeKeepingBytes gives them back.
void decodeKeepingBytes(const char* bytes, std::size_t size, std::u16string& out);

// What encodeKeepingBytes made of a unit sequence.
struct KeptBytes {
  enum class Status { Encoded, NoSuchName, TooLong };
  Status status = Status::Encoded;
  std::size_t size = 0;  // bytes written when Encoded
};

// The inverse of decodeKeepingBytes, into [out, out + capacity) without
// memory of its own: a low surrogate U+DC80-U+DCFF that ends no pair becomes
// the byte it stands for. NoSuchName for units that no bytes decode to (any
// other lone surrogate, or bytes kept as surrogates that spell valid UTF-8
// together): taken as they come, they would name another file or none.
KeptBytes encodeKeepingBytes(const char16_t* first, const char16_t* last, char* out, std::size_t capacity);

}  // namespace platform::utf8
