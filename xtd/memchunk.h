#pragma once

#include <cstddef>

#include "xtd/ivslink.h"

namespace xtd {

// A piece of byte storage that sits in a stream buffer's ring. The bytes
// [rd, wr) are held: written and not yet read. begin <= rd <= wr <= end.
class memchunk : public ivslink<memchunk, 0> {
 public:
  char* begin = nullptr;
  char* end = nullptr;
  char* rd = nullptr;
  char* wr = nullptr;

  // Called once, after the chunk has left its ring; the chunk disposes of
  // itself.
  virtual void release() noexcept = 0;

  std::size_t held() const noexcept { return static_cast<std::size_t>(wr - rd); }
  std::size_t room() const noexcept { return static_cast<std::size_t>(end - wr); }
  std::size_t size() const noexcept { return static_cast<std::size_t>(end - begin); }

  memchunk(const memchunk&) = delete;
  memchunk& operator=(const memchunk&) = delete;

 protected:
  memchunk() = default;
  // Chunks end through release(), never through a base pointer.
  ~memchunk() = default;
};

// A chunk over storage that somebody else owns; releasing it does nothing.
class memchunk_var final : public memchunk {
 public:
  memchunk_var() = default;
  ~memchunk_var() = default;

  // Points the chunk at [storage, storage + size), empty, and out of any ring.
  void set(char* storage, std::size_t size) noexcept {
    next = nullptr;
    begin = rd = wr = storage;
    end = storage + size;
  }

  void release() noexcept override {}
};

namespace detail {

// A chunk whose header and storage are one block from block_alloc, holding
// at least n bytes (the block's rounding is usable storage too). Throws
// std::bad_alloc. Releasing the chunk frees the block.
memchunk* new_fast_chunk(std::size_t n);

}  // namespace detail

}  // namespace xtd
