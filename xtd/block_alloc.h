#pragma once

#include <cstddef>

namespace xtd {

// Allocates a counted block of at least `bytes` bytes, rounded up to a
// multiple of 8. The rounded size is stored in the block's first 32-bit word
// so that the caller can derive a capacity from it before overwriting it.
// Throws std::bad_alloc when the heap is exhausted or the size cannot be
// expressed in 32 bits.
void* block_alloc(std::size_t bytes);

// Releases a block obtained from block_alloc.
void block_free(void* block) noexcept;

}  // namespace xtd
