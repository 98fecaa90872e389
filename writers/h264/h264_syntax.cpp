#include "writers/h264/h264_syntax.h"

#include <cmath>

void readScalingList(BitReader& r, int size) {
  std::int64_t last = 8;
  std::int64_t next = 8;
  for (int j = 0; j < size; ++j) {
    // 64-bit so that a hostile delta near INT32_MIN cannot overflow.
    if (next != 0) next = (last + r.readSE() + 256) % 256;
    last = next == 0 ? last : next;
  }
}

int ceilLog2Width(double x) {
  // Comparing against exact powers of two avoids log(x) / log(2) rounding
  // up at 2^29 and 2^31, and never converts an out-of-range double to int.
  int n = 0;
  while (n < 32 && std::ldexp(1.0, n) < x) ++n;
  return n;
}
