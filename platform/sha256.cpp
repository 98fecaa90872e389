#include "platform/sha256.h"

namespace platform {

std::optional<Sha256::Digest> Sha256::of(const void* data, std::size_t size) {
  Sha256 hasher;
  hasher.update(data, size);
  return hasher.finish();
}

}  // namespace platform
