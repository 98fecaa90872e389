#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <string>

#include "platform/posix/path_codec.h"
#include "platform/program.h"

namespace platform {

std::uint32_t programPath(char16_t* buffer, std::uint32_t capacity) {
  if (capacity == 0) return 0;
  char bytes[4096];
  const ssize_t n = ::readlink("/proc/self/exe", bytes, sizeof bytes);
  std::u16string path;
  if (n <= 0 || static_cast<std::size_t>(n) >= sizeof bytes ||
      !posix::fromNative(bytes, static_cast<std::size_t>(n), path)) {
    buffer[0] = u'\0';
    return 0;
  }
  std::uint32_t count = static_cast<std::uint32_t>(path.size());
  if (count > capacity - 1) count = capacity - 1;
  path.copy(buffer, count);
  buffer[count] = u'\0';
  return count;
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

bool stderrJoinsStdout() {
  if (::isatty(1) && ::isatty(2)) return true;
  struct stat out, err;
  return ::fstat(1, &out) == 0 && ::fstat(2, &err) == 0 && out.st_dev == err.st_dev && out.st_ino == err.st_ino;
}

std::vector<std::string> argumentsAsUtf8(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace platform
