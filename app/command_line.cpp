#include "app/command_line.h"

#include <new>
#include <string>
#include <vector>

#include "app/app_main.h"
#include "platform/program.h"
#include "xtd/utf8.h"

int runFromCommandLine(int argc, char** argv) {
  platform::prepareProcess();
  const std::vector<std::string> args = platform::argumentsAsUtf8(argc, argv);
  xtd::dwstring path;
  if (args.size() > 1) {
    const xtd::dstring bytes = xtd::dstring::from_cstr(args[1].c_str());
    try {
      path.reserve(bytes.length());
      xtd::utf8_to_wide(bytes.data(), bytes.data() + bytes.length(), path);
      if (!platform::argumentDecodesExactly(bytes.data(), bytes.length())) throw xtd::utf8_error();
    } catch (const xtd::utf8_error& e) {
      // Stop before scanning: a misread path could name another directory.
      const std::string message =
          std::string("avdconv: the directory argument is not valid UTF-8 (") + e.what() + ")\n";
      platform::writeStderr(message.data(), message.size());
      return 2;
    }
  }
  try {
    return appMain(path.view());
  } catch (const std::bad_alloc&) {
    // Out of memory before any conversion began (each conversion handles
    // its own): no archive has been touched.
    static constexpr char kNoMemory[] = "avdconv: out of memory\n";
    platform::writeStderr(kNoMemory, sizeof kNoMemory - 1);
    return 1;
  }
}
