#include "app/command_line.h"

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/app_main.h"
#include "app/usage_text.h"
#include "platform/interrupts.h"
#include "platform/program.h"
#include "xtd/utf8.h"

namespace {

// Answers --help, -h and --version on standard output when the argument is
// the only one; any other command line, "./--help" or a second argument
// included, names a directory as it always did.
bool answeredOption(const std::vector<std::string>& args) {
  if (args.size() != 2) return false;
  const std::string& option = args[1];
  const char* text = nullptr;
  if (option == "--help" || option == "-h" || platform::isSystemHelpSwitch(option)) {
    text = kUsageText;
  } else if (option == "--version") {
    text = kVersionText;
  } else {
    return false;
  }
  platform::writeStdout(text, std::strlen(text));
  platform::flushStdout();
  return true;
}

}  // namespace

int runFromCommandLine(int argc, char** argv) {
  platform::prepareProcess();
  const std::vector<std::string> args = platform::argumentsAsUtf8(argc, argv);
  if (answeredOption(args)) return 0;
  platform::watchInterrupts();
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
