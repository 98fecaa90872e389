#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Shard K of N (--shard K/N): the archives whose path below the directory
// argument ("/" between the parts on every system, UTF-8), hashed with
// SHA-256, has its first 8 bytes, as a big-endian number, equal to K - 1
// modulo N. N runs, K = 1..N, take disjoint sets of archives that together
// are all of them, wherever and in whatever order each one scans.
struct Shard {
  std::uint32_t index = 1;  // K, from 1
  std::uint32_t count = 1;  // N

  // "K/N" with 1 <= K <= N, in decimal digits; none otherwise.
  static std::optional<Shard> parse(const std::string& text);

  bool takes(std::string_view relativePath) const;
};
