#pragma once

#include <cstdint>
#include <cstring>
#include <ios>
#include <streambuf>

namespace xtd {

// Root of the light-weight streams. Ending a stream neither flushes nor
// touches its stream buffer.
class lwios {
 public:
  virtual ~lwios();

 protected:
  lwios() = default;
  lwios(const lwios&) = default;
  lwios& operator=(const lwios&) = default;
};

// A stream buffer (not owned) and a state word; no locale, no formatting,
// no exceptions.
class lwiosp : public lwios {
 public:
  using streambuf_type = std::basic_streambuf<char>;

  // A stream over no buffer starts bad; its writes go nowhere and fail.
  explicit lwiosp(streambuf_type* sb) noexcept;

  streambuf_type* rdbuf() const noexcept { return bad_buffer() ? nullptr : sb_; }
  std::ios_base::iostate rdstate() const noexcept { return state_; }
  bool good() const noexcept { return state_ == std::ios_base::goodbit; }
  bool fail() const noexcept { return (state_ & (std::ios_base::failbit | std::ios_base::badbit)) != 0; }
  bool bad() const noexcept { return (state_ & std::ios_base::badbit) != 0; }
  void setstate(std::ios_base::iostate bits) noexcept { state_ |= bits; }
  void clear(std::ios_base::iostate state = std::ios_base::goodbit) noexcept { state_ = state; }

 protected:
  bool bad_buffer() const noexcept;

  // Never null: a stream constructed over none holds a buffer that refuses
  // every byte, so write() keeps a single bounds test on its fast path.
  streambuf_type* sb_;
  std::ios_base::iostate state_;
};

namespace detail {

// Reaches the protected put-area members of any stream buffer. Forming
// the member pointers through a derived class is what makes them
// accessible; calls through them act on the real buffer (xsputn dispatches
// virtually).
struct streambuf_access : std::basic_streambuf<char> {
  streambuf_access() = delete;

  static char* put_ptr(std::basic_streambuf<char>& b) { return (b.*&streambuf_access::pptr)(); }
  static char* put_end(std::basic_streambuf<char>& b) { return (b.*&streambuf_access::epptr)(); }
  static void put_bump(std::basic_streambuf<char>& b, int n) { (b.*&streambuf_access::pbump)(n); }
  static std::streamsize put_n(std::basic_streambuf<char>& b, const char* p, std::streamsize n) {
    return (b.*&streambuf_access::xsputn)(p, n);
  }
};

}  // namespace detail

// Output of raw bytes straight into a stream buffer's put area, falling
// back to the buffer's xsputn only when the area is too small. The state is
// not consulted before writing; a short write sets failbit.
class olwstream : public lwiosp {
 public:
  explicit olwstream(streambuf_type* sb) noexcept : lwiosp(sb) {}

  olwstream& write(const char* p, std::int32_t n) {
    if (n <= 0) return *this;
    streambuf_type& b = *sb_;
    char* at = detail::streambuf_access::put_ptr(b);
    if (detail::streambuf_access::put_end(b) - at >= n) {
      std::memcpy(at, p, static_cast<std::size_t>(n));
      detail::streambuf_access::put_bump(b, n);
    } else if (detail::streambuf_access::put_n(b, p, n) != n) {
      state_ |= std::ios_base::failbit;
    }
    return *this;
  }

  // The value's four bytes in memory order.
  olwstream& write_u32(std::uint32_t value) {
    char bytes[4];
    std::memcpy(bytes, &value, 4);
    return write(bytes, 4);
  }
};

// Streams over the standard output's and standard error's buffers, made
// once during static initialisation (or on first use, if that comes
// earlier) and never destroyed.
olwstream& lw_stdout();
olwstream& lw_stderr();

}  // namespace xtd
