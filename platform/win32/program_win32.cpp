#include "platform/program.h"
#include "platform/utf16_units.h"
#include "platform/win32/windows_min.h"

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

namespace platform {

std::uint32_t programPath(char16_t* buffer, std::uint32_t capacity) {
  if (capacity == 0) return 0;
  const DWORD n = ::GetModuleFileNameW(nullptr, reinterpret_cast<wchar_t*>(buffer), capacity);
  // On truncation the call fills the buffer; keep it terminated either way.
  const std::uint32_t count = n >= capacity ? capacity - 1 : n;
  buffer[count] = u'\0';
  return count;
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
    std::string bytes;
    // Unit by unit, as the program's own decoder expects: a lone surrogate
    // survives the trip.
    for (const wchar_t* p = wide[i]; *p; ++p) {
      appendUnitAsUtf8(static_cast<unsigned short>(*p), bytes);
    }
    args.push_back(std::move(bytes));
  }
  ::LocalFree(wide);
  return args;
}

}  // namespace platform
