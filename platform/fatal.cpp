#include "platform/fatal.h"

#include <cstdlib>
#include <cstring>

#include "platform/fatal_line.h"

namespace platform {

namespace {

// The line is built on the stack: the heap may be what ran out.
class Line {
 public:
  void add(const char* text) noexcept {
    if (!text) text = "(null)";
    const std::size_t n = std::strlen(text);
    const std::size_t room = sizeof(bytes_) - 1 - size_;
    const std::size_t take = n < room ? n : room;
    std::memcpy(bytes_ + size_, text, take);
    size_ += take;
  }
  char* tail() noexcept { return bytes_ + size_; }
  std::size_t room() const noexcept { return sizeof(bytes_) - 1 - size_; }
  void grow(std::size_t n) noexcept { size_ += n < room() ? n : room(); }

  [[noreturn]] void writeAndAbort() noexcept {
    bytes_[size_++] = '\n';
    fatal_line::writeStandardError(bytes_, size_);
    std::abort();
  }

 private:
  char bytes_[512];
  std::size_t size_ = 0;
};

}  // namespace

void fatalError(const char* what) noexcept {
  Line line;
  line.add("avdconv: fatal: ");
  line.add(what);
  line.writeAndAbort();
}

void fatalSystemError(const char* call, std::uint32_t error) noexcept {
  Line line;
  line.add("avdconv: fatal: ");
  line.add(call);
  line.add(": ");
  line.grow(fatal_line::systemErrorText(error, line.tail(), line.room()));
  line.writeAndAbort();
}

}  // namespace platform
