#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <string>
#include <vector>

#include "platform/posix/path_codec.h"
#include "platform/program.h"
#include "platform/utf8_codec.h"

namespace platform {

std::u16string programPath() {
  // Far beyond any path the kernel reports; a link that long is no answer.
  constexpr std::size_t kLongest = std::size_t{1} << 20;
  std::vector<char> bytes(256);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", bytes.data(), bytes.size());
    if (n <= 0) return {};
    const auto size = static_cast<std::size_t>(n);
    // readlink cuts silently: only a result shorter than the buffer is whole.
    if (size < bytes.size()) {
      std::u16string path;
      posix::fromNative(bytes.data(), size, path);
      return path;
    }
    if (bytes.size() >= kLongest) return {};
    bytes.resize(bytes.size() * 2);
  }
}

void prepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is the closed one.
    const int opened = ::open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) ::close(opened);
  }
  // A write to a closed pipe fails with EPIPE instead of ending the process.
  ::signal(SIGPIPE, SIG_IGN);
  // A writer opening an archive while its removal holds a lease would
  // otherwise end the process with this signal; the lease is let go at once.
  ::signal(SIGIO, SIG_IGN);
}

std::uint32_t processId() { return static_cast<std::uint32_t>(::getpid()); }

bool stderrJoinsStdout() {
  if (::isatty(1) && ::isatty(2)) return true;
  struct stat out, err;
  return ::fstat(1, &out) == 0 && ::fstat(2, &err) == 0 && out.st_dev == err.st_dev && out.st_ino == err.st_ino;
}

std::vector<std::string> argumentsAsUtf8(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

bool pathFromArgument(const char* bytes, std::size_t size, std::u16string& path) {
  posix::fromNative(bytes, size, path);
  return true;
}

bool isSystemHelpSwitch(const std::string& /*argument*/) { return false; }

void endProcessAtOnce(int status) { ::_exit(status); }

}  // namespace platform
