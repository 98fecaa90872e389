#pragma once

#include <cstdint>

// Fixed-width integers stored in a given byte order, whatever the machine's
// own: every file format says which order its fields are in (archives and
// AVI little-endian, FLV big-endian). Byte by byte, so any alignment works.
namespace xtd {

namespace detail {

template <int N>
std::uint64_t load_le(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  std::uint64_t v = 0;
  for (int i = N - 1; i >= 0; --i) v = v << 8 | b[i];
  return v;
}

template <int N>
std::uint64_t load_be(const void* p) {
  const auto* b = static_cast<const unsigned char*>(p);
  std::uint64_t v = 0;
  for (int i = 0; i < N; ++i) v = v << 8 | b[i];
  return v;
}

template <int N>
void store_le(void* p, std::uint64_t v) {
  auto* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < N; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
}

template <int N>
void store_be(void* p, std::uint64_t v) {
  auto* b = static_cast<unsigned char*>(p);
  for (int i = 0; i < N; ++i) b[i] = static_cast<unsigned char>(v >> (8 * (N - 1 - i)));
}

}  // namespace detail

inline std::uint16_t load_le16(const void* p) { return static_cast<std::uint16_t>(detail::load_le<2>(p)); }
inline std::uint32_t load_le32(const void* p) { return static_cast<std::uint32_t>(detail::load_le<4>(p)); }
inline std::uint16_t load_be16(const void* p) { return static_cast<std::uint16_t>(detail::load_be<2>(p)); }
inline std::uint32_t load_be24(const void* p) { return static_cast<std::uint32_t>(detail::load_be<3>(p)); }
inline std::uint32_t load_be32(const void* p) { return static_cast<std::uint32_t>(detail::load_be<4>(p)); }
inline std::uint64_t load_be64(const void* p) { return detail::load_be<8>(p); }

inline void store_le16(void* p, std::uint16_t v) { detail::store_le<2>(p, v); }
inline void store_le32(void* p, std::uint32_t v) { detail::store_le<4>(p, v); }
inline void store_be16(void* p, std::uint16_t v) { detail::store_be<2>(p, v); }
inline void store_be24(void* p, std::uint32_t v) { detail::store_be<3>(p, v); }
inline void store_be32(void* p, std::uint32_t v) { detail::store_be<4>(p, v); }
inline void store_be64(void* p, std::uint64_t v) { detail::store_be<8>(p, v); }

}  // namespace xtd
