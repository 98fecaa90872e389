#include "xtd/memchunk.h"

#include <cstdint>
#include <new>

#include "xtd/block_alloc.h"

namespace xtd {

namespace {

class memchunk_fast_new final : public memchunk {
 public:
  static memchunk* create(std::size_t n) {
    // The block size travels in 32 bits; block_alloc refuses what is left.
    if (n > 0xFFFFFFFFu) throw std::bad_alloc();
    void* raw = block_alloc(sizeof(memchunk_fast_new) + n);
    const std::uint32_t rounded = *static_cast<std::uint32_t*>(raw);
    auto* chunk = ::new (raw) memchunk_fast_new;
    char* base = static_cast<char*>(raw);
    chunk->begin = chunk->rd = chunk->wr = base + sizeof(memchunk_fast_new);
    chunk->end = base + rounded;
    return chunk;
  }

  void release() noexcept override {
    void* raw = this;
    this->~memchunk_fast_new();
    block_free(raw);
  }

 private:
  memchunk_fast_new() = default;
  ~memchunk_fast_new() = default;
};

static_assert(sizeof(memchunk_fast_new) % 8 == 0, "storage must start 8-aligned");

}  // namespace

namespace detail {

memchunk* new_fast_chunk(std::size_t n) { return memchunk_fast_new::create(n); }

}  // namespace detail

}  // namespace xtd
