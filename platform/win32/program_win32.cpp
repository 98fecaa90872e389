#include "platform/program.h"
#include "platform/utf8_codec.h"
#include "platform/win32/windows_min.h"

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

namespace platform {

std::u16string programPath() {
  // Past the longest path the system handles, a filled buffer is no answer.
  constexpr DWORD kLongest = 32768;
  std::u16string path(MAX_PATH, u'\0');
  for (;;) {
    const auto capacity = static_cast<DWORD>(path.size());
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(path.data()), capacity);
    if (n == 0) return {};
    // A cut path fills the buffer (and newer systems say so as well).
    if (n < capacity && ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
      path.resize(n);
      return path;
    }
    if (capacity > kLongest) return {};
    path.resize(path.size() * 2);
  }
}

void prepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::_get_osfhandle(fd) != -1) continue;
    // Started without this standard handle: the null device takes the
    // number, so that no output file the program opens is given it.
    const int opened = ::_wopen(L"NUL", _O_RDWR | _O_BINARY);
    if (opened < 0) continue;
    if (opened != fd) {
      ::_dup2(opened, fd);
      ::_close(opened);
    }
  }
}

std::uint32_t processId() { return static_cast<std::uint32_t>(::GetCurrentProcessId()); }

bool stderrJoinsStdout() {
  HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE err = ::GetStdHandle(STD_ERROR_HANDLE);
  if (out == err) return true;
  DWORD mode;
  if (::GetConsoleMode(out, &mode) && ::GetConsoleMode(err, &mode)) return true;
  BY_HANDLE_FILE_INFORMATION a, b;
  return ::GetFileInformationByHandle(out, &a) && ::GetFileInformationByHandle(err, &b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

std::vector<std::string> argumentsAsUtf8(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) {
    const auto* first = reinterpret_cast<const char16_t*>(wide[i]);
    std::string bytes;
    utf8::encode(first, first + ::wcslen(wide[i]), bytes);
    args.push_back(std::move(bytes));
  }
  ::LocalFree(wide);
  return args;
}

// Encoded from the wide command line, an argument always decodes back to
// itself; the check still stops the narrow fallback's code-page bytes.
bool pathFromArgument(const char* bytes, std::size_t size, std::u16string& path) {
  return utf8::decodeExactly(bytes, size, path);
}

bool isSystemHelpSwitch(const std::string& argument) { return argument == "/?"; }

void endProcessAtOnce(int status) {
  ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
  // Not reached: a process that terminates itself does not return.
  ::ExitProcess(static_cast<UINT>(status));
}

}  // namespace platform
