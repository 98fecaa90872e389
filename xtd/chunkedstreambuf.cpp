#include "xtd/chunkedstreambuf.h"

#include <algorithm>

namespace xtd {

chunkedstreambuf::chunkedstreambuf(memchunk* first) {
  ring_.push_back(first);
  setp(first->wr, first->end);
}

chunkedstreambuf::~chunkedstreambuf() { release_ring(ring_); }

void chunkedstreambuf::sync_chunks() {
  if (pbase()) {
    ring_.tail->wr = pptr();
    setp(nullptr, nullptr);
  }
  if (eback()) {
    ring_.head()->rd = gptr();
    setg(nullptr, nullptr, nullptr);
  }
}

std::uint64_t chunkedstreambuf::held_size() {
  sync_chunks();
  return ring_held(ring_);
}

std::uint64_t chunkedstreambuf::ring_held(const ring_type& ring) noexcept {
  std::uint64_t total = 0;
  if (ring.empty()) return 0;
  const memchunk* c = ring.head();
  for (std::uint32_t i = 0; i < ring.count; ++i, c = c->next) total += c->held();
  return total;
}

void chunkedstreambuf::release_ring(ring_type& ring) noexcept {
  ring.release_all([](memchunk* c) { c->release(); });
}

std::uint64_t chunkedstreambuf::skip_ring(ring_type& ring, std::uint64_t n) noexcept {
  std::uint64_t done = 0;
  while (n > 0 && !ring.empty()) {
    memchunk* head = ring.head();
    const std::size_t held = head->held();
    if (n < held) {
      head->rd += n;
      done += n;
      break;
    }
    ring.pop_front();
    head->release();
    n -= held;
    done += held;
  }
  return done;
}

std::uint64_t chunkedstreambuf::read_ring(ring_type& ring, char* dst, std::uint64_t n) noexcept {
  std::uint64_t done = 0;
  while (n > 0 && !ring.empty()) {
    memchunk* head = ring.head();
    const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, head->held()));
    if (k != 0) std::memcpy(dst, head->rd, k);
    head->rd += k;
    dst += k;
    n -= k;
    done += k;
    if (head->rd == head->wr) {
      ring.pop_front();
      head->release();
    }
  }
  return done;
}

std::uint64_t chunkedstreambuf::skip_bytes(std::uint64_t n) {
  // The areas may point into chunks about to be released.
  sync_chunks();
  return skip_ring(ring_, n);
}

std::uint64_t chunkedstreambuf::read_bytes(char* dst, std::uint64_t n) {
  sync_chunks();
  return read_ring(ring_, dst, n);
}

memchunk* chunkedstreambuf::new_chunk(std::size_t n) { return detail::new_fast_chunk(n); }

bool chunkedstreambuf::next_write_chunk(std::size_t n) {
  // A full sync also brings rd up to date, so a chunk drained by reading is
  // seen as empty and reused, and no get area is left over storage that is
  // about to be rewritten.
  sync_chunks();
  memchunk* target = nullptr;
  if (!ring_.empty()) {
    memchunk* tail = ring_.tail;
    if (tail->rd == tail->wr) {
      tail->rd = tail->wr = tail->begin;
      if (tail->wr != tail->end) target = tail;
    } else if (tail->wr != tail->end) {
      target = tail;
    }
  }
  if (!target) {
    target = new_chunk(n);
    if (!target) return false;
    if (target->wr == target->end) {
      // A chunk without room would leave overflow nowhere to store.
      target->release();
      return false;
    }
    ring_.push_back(target);
  }
  setp(target->wr, target->end);
  return true;
}

chunkedstreambuf::int_type chunkedstreambuf::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
  if (pptr() == epptr() && !next_write_chunk(default_chunk_size_)) return traits_type::eof();
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

std::streamsize chunkedstreambuf::xsputn(const char* p, std::streamsize n) {
  std::streamsize done = 0;
  while (n > 0) {
    if (pptr() != epptr()) {
      const std::streamsize k = std::min<std::streamsize>(n, epptr() - pptr());
      std::memcpy(pptr(), p, static_cast<std::size_t>(k));
      advance_put(static_cast<std::size_t>(k));
      p += k;
      n -= k;
      done += k;
      if (n == 0) break;
    }
    // A large write gets one chunk sized to what remains of it.
    std::size_t want = static_cast<std::size_t>(std::min<std::streamsize>(n, kMaxChunkSize));
    if (want < default_chunk_size_) want = default_chunk_size_;
    if (!next_write_chunk(want)) break;
  }
  return done;
}

chunkedstreambuf::int_type chunkedstreambuf::underflow() {
  // Reading and writing may share the tail chunk: keep its wr current.
  if (pbase()) ring_.tail->wr = pptr();
  if (!eback() && !ring_.empty()) load_get_area(ring_.head());
  for (;;) {
    if (eback()) {
      // The get area always lies in the head chunk; bytes written to it
      // since the area was loaded become readable here.
      char* limit = ring_.head()->wr;
      if (egptr() < limit) setg(eback(), gptr(), limit);
      if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
    }
    if (ring_.empty()) break;
    memchunk* drained = ring_.pop_front();
    drained->release();
    if (ring_.empty()) break;
    load_get_area(ring_.head());
  }
  clear_areas();
  return traits_type::eof();
}

std::streamsize chunkedstreambuf::showmanyc() { return static_cast<std::streamsize>(held_size()); }

chunkedstreambuf::pos_type chunkedstreambuf::seekoff(off_type off, std::ios_base::seekdir dir,
                                                     std::ios_base::openmode which) {
  if (off == 0 && dir == std::ios_base::cur && which == std::ios_base::out) {
    return pos_type(static_cast<off_type>(held_size()));
  }
  return pos_type(off_type(-1));
}

int chunkedstreambuf::sync() { return 0; }

}  // namespace xtd
