#pragma once

#include "writers/h264/bit_reader.h"

// Skips a scaling list of `size` coefficients (16 or 64), keeping the bit
// position right; the coefficients themselves are not needed.
void readScalingList(BitReader& r, int size);

// Smallest n with 2^n >= x, for widths the stream gives as Ceil(Log2(x)).
// x <= 1 gives 0; anything beyond 2^32 gives 32, the widest read.
int ceilLog2Width(double x);

// Descriptors u(n), ue(v), se(v) as stored in the records: values beyond
// INT32_MAX wrap, which C++20 defines for the conversion.
inline std::int32_t readU(BitReader& r, int n) { return static_cast<std::int32_t>(r.readBits(n)); }
inline std::int32_t readUe(BitReader& r) { return static_cast<std::int32_t>(r.readUE()); }
inline std::int32_t readSe(BitReader& r) { return r.readSE(); }
