#pragma once

#include <cstdint>
#include <cstring>
#include <iosfwd>
#include <new>

#include "xtd/block_alloc.h"
#include "xtd/strview.h"

namespace xtd {

namespace detail {

// Header of a counted block; the elements follow it inline.
template <class T>
struct block_header {
  std::uint32_t length;
  std::uint32_t capacity;
  T* data;
};

// The shared block of every empty string of one element type. Capacity 0
// marks it as owned by nobody, so no operation ever writes to or frees it.
template <class T>
struct empty_block {
  block_header<T> header;
  T storage[1];
};

template <class T>
constinit inline empty_block<T> g_empty_block = {{0, 0, g_empty_block<T>.storage}, {}};

}  // namespace detail

// A growable counted string: one pointer to a heap block holding length,
// capacity, a data pointer and the elements. Empty strings share a static
// block and never allocate. Contents are not zero-terminated; c_str()
// writes a terminator on demand.
template <class T>
class basic_dstring {
 public:
  using value_type = T;
  using view_type = basic_strview<T>;
  using header_type = detail::block_header<T>;

  static constexpr std::uint32_t kHeaderSize = sizeof(header_type);

  basic_dstring() noexcept : blk_(shared_empty()) {}
  explicit basic_dstring(view_type v) : blk_(shared_empty()) {
    if (v.length != 0) {
      blk_ = allocate(v.length);
      std::memcpy(blk_->data, v.data, v.length * sizeof(T));
      blk_->length = v.length;
    }
  }
  basic_dstring(const basic_dstring& other) : basic_dstring(other.view()) {}
  basic_dstring(basic_dstring&& other) noexcept : blk_(other.blk_) { other.blk_ = shared_empty(); }
  basic_dstring& operator=(const basic_dstring& other) {
    assign(other.view());
    return *this;
  }
  basic_dstring& operator=(basic_dstring&& other) noexcept {
    swap(other);
    return *this;
  }
  ~basic_dstring() { release(blk_); }

  // A string sized exactly for the zero-terminated input (no growth margin).
  static basic_dstring from_cstr(const T* z) {
    std::uint32_t n = 0;
    while (z[n] != T{}) ++n;
    return basic_dstring(view_type{z, n});
  }

  std::uint32_t length() const noexcept { return blk_->length; }
  std::uint32_t size() const noexcept { return blk_->length; }
  std::uint32_t capacity() const noexcept { return blk_->capacity; }
  bool empty() const noexcept { return blk_->length == 0; }
  T* data() noexcept { return blk_->data; }
  const T* data() const noexcept { return blk_->data; }
  T& operator[](std::uint32_t i) noexcept { return blk_->data[i]; }
  const T& operator[](std::uint32_t i) const noexcept { return blk_->data[i]; }
  view_type view() const noexcept { return view_type{blk_->data, blk_->length}; }
  // True when this string shares the static empty block (owns no storage).
  bool on_shared_block() const noexcept { return blk_ == shared_empty(); }

  void reserve(std::uint32_t n) {
    if (n > blk_->capacity) grow(n);
  }

  void push_back(T element) {
    if (blk_->length + std::uint64_t{1} > blk_->capacity) grow(blk_->length + std::uint64_t{1});
    blk_->data[blk_->length++] = element;
  }

  // Adds n elements (n >= 1) left for the caller to fill; returns the first.
  T* extend(std::uint32_t n) {
    const std::uint64_t need = std::uint64_t{blk_->length} + n;
    if (need > blk_->capacity) grow(need);
    T* first = blk_->data + blk_->length;
    blk_->length = static_cast<std::uint32_t>(need);
    return first;
  }

  // Appends the view's elements; the view may lie inside this string.
  void append(view_type v) { put(blk_->length, v); }

  // Replaces the contents; the view may lie inside this string.
  void assign(view_type v) { put(0, v); }

  void clear() noexcept {
    if (blk_->length != 0) blk_->length = 0;
  }

  void resize(std::uint32_t n) {
    if (n > blk_->length) {
      if (n > blk_->capacity) grow(n);
      std::memset(blk_->data + blk_->length, 0, (n - blk_->length) * sizeof(T));
      blk_->length = n;
    } else if (n < blk_->length) {
      blk_->length = n;
    }
  }

  // Stores a terminator after the last element without counting it.
  const T* c_str() {
    if (blk_->length + std::uint64_t{1} > blk_->capacity) grow(blk_->length + std::uint64_t{1});
    blk_->data[blk_->length] = T{};
    return blk_->data;
  }

  void swap(basic_dstring& other) noexcept {
    header_type* b = blk_;
    blk_ = other.blk_;
    other.blk_ = b;
  }

 private:
  static header_type* shared_empty() noexcept { return &detail::g_empty_block<T>.header; }

  // A block for a capacity request; capacity is what the rounded size holds.
  static header_type* allocate(std::uint64_t request) {
    if (request > 0xFFFFFFFFu) throw std::bad_alloc();
    const std::uint64_t bytes = kHeaderSize + request * sizeof(T);
    if (bytes > 0xFFFFFFF8u) throw std::bad_alloc();
    void* raw = block_alloc(static_cast<std::size_t>(bytes));
    const std::uint32_t rounded = *static_cast<std::uint32_t*>(raw);
    auto* h = static_cast<header_type*>(raw);
    h->length = 0;
    h->capacity = (rounded - kHeaderSize) / sizeof(T);
    h->data = reinterpret_cast<T*>(reinterpret_cast<char*>(raw) + kHeaderSize);
    return h;
  }

  static void release(header_type* b) noexcept {
    if (b->capacity != 0) block_free(b);
  }

  // The growth rule: 1.5 times the capacity, with the requirement as floor.
  std::uint64_t growth_request(std::uint64_t need) const noexcept {
    const std::uint64_t cap = blk_->capacity;
    const std::uint64_t grown = cap + cap / 2;
    return grown > need ? grown : need;
  }

  // Replaces the block by a larger one, keeping the contents.
  void grow(std::uint64_t need) {
    header_type* fresh = allocate(growth_request(need));
    std::memcpy(fresh->data, blk_->data, blk_->length * sizeof(T));
    fresh->length = blk_->length;
    release(blk_);
    blk_ = fresh;
  }

  // Writes v at index pos and ends the string there. The old block stays
  // alive until the copy is done, because v may point into it.
  void put(std::uint32_t pos, view_type v) {
    const std::uint64_t end = std::uint64_t{pos} + v.length;
    header_type* old = nullptr;
    if (end > blk_->capacity) {
      header_type* fresh = allocate(growth_request(end));
      std::memcpy(fresh->data, blk_->data, pos * sizeof(T));
      old = blk_;
      blk_ = fresh;
    }
    if (v.length != 0) std::memmove(blk_->data + pos, v.data, v.length * sizeof(T));
    if (blk_->length != end) blk_->length = static_cast<std::uint32_t>(end);
    if (old) release(old);
  }

  header_type* blk_;
};

using dstring = basic_dstring<char>;
using dwstring = basic_dstring<char16_t>;

// Writes exactly the string's bytes; no terminator is needed.
std::ostream& operator<<(std::ostream& out, const dstring& s);

}  // namespace xtd
