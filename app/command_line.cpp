#include "app/command_line.h"

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

#include "app/app_main.h"
#include "app/options.h"
#include "app/usage_text.h"
#include "platform/interrupts.h"
#include "platform/program.h"
#include "xtd/dstring.h"

namespace {

void write(const std::string& text, void (*to)(const char*, std::size_t)) { to(text.data(), text.size()); }

}  // namespace

int runFromCommandLine(int argc, char** argv) {
  platform::prepareProcess();
  const std::vector<std::string> args = platform::argumentsAsUtf8(argc, argv);
  const ParsedCommandLine line = parseCommandLine(args);
  switch (line.action) {
    case ParsedCommandLine::Action::Run:
      break;
    case ParsedCommandLine::Action::Help:
    case ParsedCommandLine::Action::Version:
      // Answered without scanning anything, not even the program directory.
      write(line.action == ParsedCommandLine::Action::Help ? helpText() : kVersionText, platform::writeStdout);
      platform::flushStdout();
      return 0;
    case ParsedCommandLine::Action::Refuse:
      write(line.refusal, platform::writeStderr);
      write(kUsageLine, platform::writeStderr);
      return 2;
  }
  platform::watchInterrupts();
  xtd::dwstring path;
  if (line.directory) {
    std::u16string units;
    if (!platform::pathFromArgument(line.directory->data(), line.directory->size(), units)) {
      // Stop before scanning: a misread path could name another directory.
      static constexpr char kNotUtf8[] = "avdconv: the directory argument is not valid UTF-8\n";
      platform::writeStderr(kNotUtf8, sizeof kNotUtf8 - 1);
      return 2;
    }
    path.append(xtd::wstrview(units.data(), static_cast<std::uint32_t>(units.size())));
  }
  try {
    return appMain(path.view(), line.options);
  } catch (const std::bad_alloc&) {
    // Out of memory before any conversion began (each conversion handles
    // its own): no archive has been touched.
    static constexpr char kNoMemory[] = "avdconv: out of memory\n";
    platform::writeStderr(kNoMemory, sizeof kNoMemory - 1);
    return 1;
  }
}
