#pragma once

#include <cstdint>

namespace xtd {

// A non-owning {pointer, length} view; comparisons are exact and
// case-sensitive.
template <class T>
struct basic_strview {
  const T* data = nullptr;
  std::uint32_t length = 0;

  constexpr basic_strview() = default;
  constexpr basic_strview(const T* d, std::uint32_t n) : data(d), length(n) {}

  // A view of a string literal, without its terminator.
  template <std::uint32_t N>
  static constexpr basic_strview literal(const T (&text)[N]) {
    return basic_strview(text, N - 1);
  }

  constexpr bool empty() const { return length == 0; }
  constexpr const T& operator[](std::uint32_t i) const { return data[i]; }
};

using strview = basic_strview<char>;
using wstrview = basic_strview<char16_t>;

// True iff both views hold the same code units.
bool equals(wstrview a, wstrview b) noexcept;
// True iff `z` holds exactly the view's units followed by its terminator.
bool equals(wstrview a, const char16_t* z) noexcept;

}  // namespace xtd
