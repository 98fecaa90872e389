#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace platform {

// SHA-256 computed by the system's own implementation, fed in pieces of any
// size. A hasher the system failed at gives no digest rather than a wrong
// one.
class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  // Throws std::bad_alloc when the system has no hash object to give.
  Sha256();
  ~Sha256();
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(const void* data, std::size_t size);
  // The digest of everything fed since the start (or the last finish), after
  // which the hasher starts over; none if the system failed on the way.
  std::optional<Digest> finish();

  static std::optional<Digest> of(const void* data, std::size_t size);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace platform
