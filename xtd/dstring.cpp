#include "xtd/dstring.h"

#include <ostream>

namespace xtd {

std::ostream& operator<<(std::ostream& out, const dstring& s) {
  return out.write(s.data(), s.length());
}

}  // namespace xtd
