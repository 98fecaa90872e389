#include "xtd/olwstream.h"

#include <iostream>
#include <mutex>
#include <new>

namespace xtd {

namespace {

// Accepts nothing: its default overflow refuses every byte.
class refusing_streambuf final : public std::basic_streambuf<char> {};

refusing_streambuf& refusing_buffer() {
  static refusing_streambuf buffer;
  return buffer;
}

alignas(olwstream) unsigned char g_stdout_storage[sizeof(olwstream)];
alignas(olwstream) unsigned char g_stderr_storage[sizeof(olwstream)];
std::once_flag g_std_streams_once;

void init_std_streams() {
  std::call_once(g_std_streams_once, [] {
    ::new (static_cast<void*>(g_stdout_storage)) olwstream(std::cout.rdbuf());
    ::new (static_cast<void*>(g_stderr_storage)) olwstream(std::cerr.rdbuf());
  });
}

// Builds the two streams during static initialisation.
const struct std_streams_init {
  std_streams_init() { init_std_streams(); }
} g_std_streams_init;

}  // namespace

lwios::~lwios() = default;

lwiosp::lwiosp(streambuf_type* sb) noexcept
    : sb_(sb ? sb : &refusing_buffer()), state_(sb ? std::ios_base::goodbit : std::ios_base::badbit) {}

bool lwiosp::bad_buffer() const noexcept { return sb_ == &refusing_buffer(); }

olwstream& lw_stdout() {
  init_std_streams();
  return *std::launder(reinterpret_cast<olwstream*>(g_stdout_storage));
}

olwstream& lw_stderr() {
  init_std_streams();
  return *std::launder(reinterpret_cast<olwstream*>(g_stderr_storage));
}

}  // namespace xtd
