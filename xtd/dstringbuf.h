#pragma once

#include <cstdint>

#include "xtd/chunkedstreambuf.h"
#include "xtd/dstring.h"
#include "xtd/memchunk.h"

namespace xtd {

namespace detail {

// The dstringbuf's string and the chunk over its storage. A base declared
// before chunkedstreambuf, so that both exist when the ring receives the
// chunk and outlive the ring's release of it.
struct dstring_memchunk_member {
  static constexpr std::uint32_t kInitialReserve = 64;

  dstring_memchunk_member() {
    storage.reserve(kInitialReserve);
    storage_chunk.set(storage.data(), storage.capacity());
  }

  dstring storage;
  memchunk_var storage_chunk;
};

}  // namespace detail

// A chunked stream buffer whose first chunk is a dstring's own storage.
// str() gathers everything held into that dstring in one pass and freezes
// the buffer; reset() starts a new accumulation. Typical flush:
//   buf.str(); dstring out = buf.take_str(); write out; destroy it; buf.reset();
class dstringbuf : private detail::dstring_memchunk_member, public chunkedstreambuf {
 public:
  dstringbuf();
  ~dstringbuf() override;

  // Gathers all held bytes into the dstring, in written order, and freezes
  // the buffer: until reset() every write fails. A frozen buffer returns the
  // dstring unchanged. Throws std::bad_alloc, leaving the buffer as it was.
  dstring& str();

  // Gathers (as str()) and hands the dstring over, leaving the buffer with
  // the shared empty one; the next reset() gives it fresh storage.
  dstring take_str();

  // Drops whatever is held and starts again at the start of the dstring's
  // storage (at least kInitialReserve bytes, or `capacity` if that is more).
  // The dstring's length is kept until the next str(). Bytes that fit the
  // storage are never moved again: a writer that empties the buffer with
  // str() and reset() before it outgrows its storage copies nothing twice.
  void reset(std::uint32_t capacity = kInitialReserve);

  bool frozen() const noexcept { return frozen_; }

  // Capacity of the storage the next accumulation starts in.
  std::uint32_t storage_capacity() const noexcept { return storage.capacity(); }

 protected:
  memchunk* new_chunk(std::size_t n) override;

 private:
  bool frozen_ = false;
};

}  // namespace xtd
