#include "app/shard.h"

#include "platform/fatal.h"
#include "platform/sha256.h"

namespace {

// Decimal digits only, no sign or space, at most 4294967295.
std::optional<std::uint32_t> number(std::string_view text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

}  // namespace

std::optional<Shard> Shard::parse(const std::string& text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) return std::nullopt;
  const std::optional<std::uint32_t> k = number(std::string_view(text).substr(0, slash));
  const std::optional<std::uint32_t> n = number(std::string_view(text).substr(slash + 1));
  if (!k || !n || *k < 1 || *k > *n) return std::nullopt;
  return Shard{*k, *n};
}

bool Shard::takes(std::string_view relativePath) const {
  if (count <= 1) return true;
  const std::optional<platform::Sha256::Digest> digest = platform::Sha256::of(relativePath.data(), relativePath.size());
  // Without the hash no shard can be told from another: guessing would
  // convert an archive twice or never.
  if (!digest) platform::fatalError("SHA-256 failed");
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value = value << 8 | (*digest)[i];
  return value % count == index - 1;
}
