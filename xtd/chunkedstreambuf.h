#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ios>
#include <streambuf>

#include "xtd/ivslink.h"
#include "xtd/memchunk.h"

namespace xtd {

// A stream buffer that keeps its bytes in a first-in first-out ring of
// chunks. Writing appends at the tail chunk and adds chunks as they fill;
// reading consumes from the head chunk and releases every chunk it drains.
// Written bytes never move. The put area, when active, is [wr, end) of the
// tail chunk; the get area, when active, lies in the head chunk.
class chunkedstreambuf : public std::basic_streambuf<char> {
 public:
  using ring_type = ivslink_ring<memchunk, 0>;

  static constexpr std::uint32_t kDefaultChunkSize = 256;
  // A single chunk never exceeds this; larger writes take several chunks.
  static constexpr std::size_t kMaxChunkSize = std::size_t{1} << 30;

  // A buffer with an empty ring.
  chunkedstreambuf() = default;
  // A buffer that starts writing into `first` at its write position.
  explicit chunkedstreambuf(memchunk* first);
  ~chunkedstreambuf() override;

  chunkedstreambuf(const chunkedstreambuf&) = delete;
  chunkedstreambuf& operator=(const chunkedstreambuf&) = delete;

  // Brings the chunks' rd and wr up to date with the get and put areas and
  // empties both areas.
  void sync_chunks();

  // Bytes written and not yet read.
  std::uint64_t held_size();

  // Appends n bytes; returns the count written (n <= 0: n itself).
  std::streamsize write_bytes(const char* p, std::streamsize n) {
    if (n <= 0) return n;
    if (epptr() - pptr() >= n) {
      std::memcpy(pptr(), p, static_cast<std::size_t>(n));
      advance_put(static_cast<std::size_t>(n));
      return n;
    }
    return xsputn(p, n);
  }

  // Drops up to n held bytes from the front; returns the count dropped.
  std::uint64_t skip_bytes(std::uint64_t n);
  // Moves up to n held bytes from the front to `dst`; returns the count.
  std::uint64_t read_bytes(char* dst, std::uint64_t n);

  std::uint32_t chunk_count() const noexcept { return ring_.count; }

 protected:
  // Ring-level forms of skip_bytes and read_bytes; every chunk drained or
  // skipped leaves the ring and is released.
  static std::uint64_t skip_ring(ring_type& ring, std::uint64_t n) noexcept;
  static std::uint64_t read_ring(ring_type& ring, char* dst, std::uint64_t n) noexcept;
  static void release_ring(ring_type& ring) noexcept;
  static std::uint64_t ring_held(const ring_type& ring) noexcept;

  // Makes the put area cover free room of at least one byte, in the tail
  // chunk or in a new one of at least n bytes. False when no chunk came.
  bool next_write_chunk(std::size_t n);

  // A new chunk of at least n bytes, or none.
  virtual memchunk* new_chunk(std::size_t n);

  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* p, std::streamsize n) override;
  int_type underflow() override;
  std::streamsize showmanyc() override;
  pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode which) override;
  int sync() override;

  // Moves the put position forward; pbump takes an int.
  void advance_put(std::size_t n) {
    while (n > 0) {
      const int step = n > 0x40000000u ? 0x40000000 : static_cast<int>(n);
      pbump(step);
      n -= static_cast<std::size_t>(step);
    }
  }

  ring_type ring_;
  std::uint32_t default_chunk_size_ = kDefaultChunkSize;

 private:
  void load_get_area(memchunk* chunk) { setg(chunk->rd, chunk->rd, chunk->wr); }
  void clear_areas() {
    setp(nullptr, nullptr);
    setg(nullptr, nullptr, nullptr);
  }
};

}  // namespace xtd
