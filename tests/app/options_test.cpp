#include "app/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/program.h"

namespace {

using Action = ParsedCommandLine::Action;

// The parse in one line: "help", "version", the refusal, or the run's format, extras and directory.
std::string asked(const ParsedCommandLine& line) {
  switch (line.action) {
    case Action::Help: return "help";
    case Action::Version: return "version";
    case Action::Refuse: return line.refusal;
    case Action::Run: break;
  }
  std::string text = line.options.format == OutputFormat::Mp4 ? "mp4" : "flv";
  if (line.options.timestamps) text += " +srt";
  if (line.options.salvage) text += " +salvage";
  if (line.directory) text += " in '" + *line.directory + "'";
  return text;
}

// If a row failed, an option would be lost or misread, a directory spelled
// like an option would be taken for one (or an option for a directory), or a
// refusal would name the wrong thing or pass a control to the terminal.
TEST(OptionsTest, CommandLinesAndWhatTheyAsk) {
  const std::string systemHelp = platform::isSystemHelpSwitch("/?") ? "help" : "flv in '/?'";
  const struct {
    std::vector<std::string> args;  // after the program name
    std::string asked;
  } rows[] = {
      {{}, "flv"},
      {{"--format=mp4", "/srv/rec"}, "mp4 in '/srv/rec'"},
      {{"--format", "mp4", "--timestamps", "d"}, "mp4 +srt in 'd'"},
      {{"--salvage", "--salvage=1", "d"}, "avdconv: --salvage takes no value\n"},
      {{"--salvage", "d", "--format=mp4"}, "flv +salvage in 'd'"},
      {{"--", "--format", "mp4"}, "flv in '--format'"},
      {{"./--format", "mp4"}, "flv in './--format'"},
      {{"-", "--format=mp4"}, "flv in '-'"},
      {{"d", "--frmat", "--help"}, "flv in 'd'"},
      {{"--timestamps", "--help", "d"}, "help"},
      {{"--format=mp4", "--version"}, "version"},
      {{"/?"}, systemHelp},
      {{"--format"}, "avdconv: --format needs a value\n"},
      {{"--format=mkv", "d"}, "avdconv: --format takes flv or mp4, not 'mkv'\n"},
      {{"--format", "--help"}, "avdconv: --format takes flv or mp4, not '--help'\n"},
      {{"--timestamps=yes", "d"}, "avdconv: --timestamps takes no value\n"},
      {{"--frmat=mp4", "d"}, "avdconv: unknown option '--frmat'\n"},
      {{"-x", "d"}, "avdconv: unknown option '-x'\n"},
      {{"--\x1b[2J\n\xff"}, "avdconv: unknown option '--\\x1b[2J\\n\\xff'\n"},
      {{"--format", "mp4\r\x85"}, "avdconv: --format takes flv or mp4, not 'mp4\\r\\x85'\n"},
      {{"-n", "--report", "r.jsonl", "d"}, "avdconv: --report writes a file, and --dry-run changes nothing: give one of them\n"},
      {{"--report", "r.jsonl", "--dry-run", "--help"}, "help"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> args{"avdconv"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    EXPECT_EQ(asked(parseCommandLine(args)), row.asked) << testing::PrintToString(row.args);
  }
}

}  // namespace
