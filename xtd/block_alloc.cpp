#include "xtd/block_alloc.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace xtd {

void* block_alloc(std::size_t bytes) {
  // The size travels in a 32-bit word: refuse what it cannot hold.
  if (bytes > 0xFFFFFFF8u) throw std::bad_alloc();
  const std::size_t size = (bytes + 7) & ~std::size_t{7};
  for (;;) {
    if (void* block = std::malloc(size == 0 ? 8 : size)) {
      *static_cast<std::uint32_t*>(block) = static_cast<std::uint32_t>(size);
      return block;
    }
    std::new_handler handler = std::get_new_handler();
    if (!handler) throw std::bad_alloc();
    handler();
  }
}

void block_free(void* block) noexcept { std::free(block); }

}  // namespace xtd
