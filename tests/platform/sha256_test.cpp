#include "platform/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string hex(const std::optional<platform::Sha256::Digest>& digest) {
  std::string out;
  if (!digest) return "none";
  for (const std::uint8_t b : *digest) out += "0123456789abcdef"[b >> 4], out += "0123456789abcdef"[b & 15];
  return out;
}

// The system's hash, fed whole, a byte at a time, and again after a finish,
// gives the published digest of the two-block message: a back end that
// dropped a piece, kept state across a finish or hashed the wrong
// algorithm would not.
TEST(Sha256Test, GivesThePublishedDigestHoweverTheMessageIsFed) {
  const std::string message = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
  const std::string expected = "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1";
  EXPECT_EQ(hex(platform::Sha256::of(message.data(), message.size())), expected);
  platform::Sha256 hasher;
  hasher.update("leftover", 8);
  hasher.finish();
  for (const char c : message) hasher.update(&c, 1);
  EXPECT_EQ(hex(hasher.finish()), expected);
}

}  // namespace
