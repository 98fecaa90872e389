#pragma once

#include <string>

namespace platform {

// Appends one UTF-16 unit as the program encodes text: each unit by itself,
// so a lone surrogate survives the trip to bytes and back.
inline void appendUnitAsUtf8(unsigned unit, std::string& out) {
  if (unit < 0x80u) {
    out.push_back(static_cast<char>(unit));
  } else if (unit < 0x800u) {
    out.push_back(static_cast<char>(0xC0u | (unit >> 6)));
    out.push_back(static_cast<char>(0x80u | (unit & 0x3Fu)));
  } else {
    out.push_back(static_cast<char>(0xE0u | (unit >> 12)));
    out.push_back(static_cast<char>(0x80u | ((unit >> 6) & 0x3Fu)));
    out.push_back(static_cast<char>(0x80u | (unit & 0x3Fu)));
  }
}

}  // namespace platform
