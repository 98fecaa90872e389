#include "xtd/strview.h"

namespace xtd {

bool equals(wstrview a, wstrview b) noexcept {
  if (a.length != b.length) return false;
  for (std::uint32_t i = 0; i < a.length; ++i) {
    if (a.data[i] != b.data[i]) return false;
  }
  return true;
}

bool equals(wstrview a, const char16_t* z) noexcept {
  for (std::uint32_t i = 0; i < a.length; ++i) {
    // A zero unit in the view never matches: z ends there.
    if (z[i] == u'\0' || z[i] != a.data[i]) return false;
  }
  return z[a.length] == u'\0';
}

}  // namespace xtd
