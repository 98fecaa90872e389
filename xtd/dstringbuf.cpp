#include "xtd/dstringbuf.h"

#include <cstring>
#include <new>

namespace xtd {

dstringbuf::dstringbuf() : chunkedstreambuf(&storage_chunk) {}

// The base destructor releases the ring (the storage chunk's release does
// nothing); the dstring goes after it with the member base.
dstringbuf::~dstringbuf() = default;

memchunk* dstringbuf::new_chunk(std::size_t n) {
  if (frozen_) return nullptr;
  return chunkedstreambuf::new_chunk(n);
}

dstring& dstringbuf::str() {
  if (frozen_) return storage;
  sync_chunks();
  const std::uint64_t total = ring_held(ring_);
  if (total >= 0xFFFFFFFFu) throw std::bad_alloc();

  // Everything that can throw happens before the buffer changes.
  dstring fresh;
  const bool move_out = total + 1 > storage.capacity();
  if (move_out) fresh.reserve(static_cast<std::uint32_t>(total + 1));

  frozen_ = true;
  ring_type gathered = ring_.detach();
  if (move_out) {
    if (total != 0) read_ring(gathered, fresh.extend(static_cast<std::uint32_t>(total)), total);
    // The old block may hold the first chunk's bytes: free it only now.
    storage.swap(fresh);
  } else {
    storage.clear();
    char* data = total != 0 ? storage.extend(static_cast<std::uint32_t>(total)) : storage.data();
    std::uint64_t at = 0;
    if (!gathered.empty() && gathered.head() == &storage_chunk) {
      // The storage chunk's bytes already stand in the dstring, at its start
      // unless something was read from the buffer.
      const std::size_t b = storage_chunk.held();
      if (b != 0 && storage_chunk.rd != data) std::memmove(data, storage_chunk.rd, b);
      gathered.pop_front();
      storage_chunk.release();
      at = b;
    }
    read_ring(gathered, data + at, total - at);
  }
  release_ring(gathered);
  return storage;
}

dstring dstringbuf::take_str() {
  str();
  dstring taken;
  taken.swap(storage);
  return taken;
}

void dstringbuf::reset(std::uint32_t capacity) {
  // A frozen buffer's ring is already empty.
  sync_chunks();
  release_ring(ring_);
  frozen_ = false;
  if (capacity < kInitialReserve) capacity = kInitialReserve;
  if (storage.capacity() < capacity) storage.reserve(capacity);
  storage_chunk.set(storage.data(), storage.capacity());
  ring_.push_back(&storage_chunk);
}

}  // namespace xtd
