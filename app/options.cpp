#include "app/options.h"

#include <algorithm>

#include "app/printable_name.h"
#include "platform/program.h"

namespace {

using Action = ParsedCommandLine::Action;

// Takes an option's value (empty for an option without one) into the
// result; otherwise says what is wrong, completing "avdconv: --NAME ".
using Apply = bool (*)(ParsedCommandLine& into, const std::string& value, std::string& why);

struct OptionSpec {
  const char* name;       // "--format"
  char shortName;         // '\0' for none
  const char* valueName;  // nullptr when the option takes no value
  Apply apply;
  const char* help;
};

bool setFormat(ParsedCommandLine& into, const std::string& value, std::string& why) {
  if (value == "flv") {
    into.options.format = OutputFormat::Flv;
  } else if (value == "mp4") {
    into.options.format = OutputFormat::Mp4;
  } else {
    why = "takes flv or mp4, not '" + printableBytes(value) + "'";
    return false;
  }
  return true;
}

bool setReport(ParsedCommandLine& into, const std::string& value, std::string& why) {
  if (value.empty()) {
    why = "needs a file name";
    return false;
  }
  // The file's name as the system spells it, as for the directory.
  if (!platform::pathFromArgument(value.data(), value.size(), into.options.report)) {
    why = "takes a name in UTF-8, not '" + printableBytes(value) + "'";
    return false;
  }
  return true;
}

bool setShard(ParsedCommandLine& into, const std::string& value, std::string& why) {
  const std::optional<Shard> shard = Shard::parse(value);
  if (!shard) {
    why = "takes K/N with 1 <= K <= N, not '" + printableBytes(value) + "'";
    return false;
  }
  into.options.shard = *shard;
  return true;
}

// Every option, in the order the help text lists them.
constexpr OptionSpec kOptions[] = {
    {"--format", '\0', "FORMAT", setFormat, "write H.264 recordings as flv (the default) or mp4"},
    {"--timestamps", '\0', nullptr,
     [](ParsedCommandLine& into, const std::string&, std::string&) { return into.options.timestamps = true; },
     "also write NAME.srt, showing the capture time"},
    {"--keep-archives", '\0', nullptr,
     [](ParsedCommandLine& into, const std::string&, std::string&) { return into.options.keepArchives = true; },
     "convert, but leave every archive as it was"},
    {"--dry-run", 'n', nullptr,
     [](ParsedCommandLine& into, const std::string&, std::string&) { return into.options.dryRun = true; },
     "say what a run would do, and change nothing"},
    {"--report", '\0', "FILE", setReport, "write one JSON line per archive, with SHA-256 hashes, to FILE"},
    {"--shard", '\0', "K/N", setShard, "convert only shard K of N of the archives"},
    {"--salvage", '\0', nullptr,
     [](ParsedCommandLine& into, const std::string&, std::string&) { return into.options.salvage = true; },
     "also convert frames behind damage and later sessions (NAME.2.flv...)"},
    {"--help", 'h', nullptr,
     [](ParsedCommandLine& into, const std::string&, std::string&) {
       into.action = Action::Help;
       return true;
     },
     "print this text and exit"},
    {"--version", '\0', nullptr,
     [](ParsedCommandLine& into, const std::string&, std::string&) {
       into.action = Action::Version;
       return true;
     },
     "print the version and exit"},
};

const OptionSpec* findOption(const std::string& longName, char shortName) {
  for (const OptionSpec& row : kOptions) {
    if (shortName != '\0' ? row.shortName == shortName : longName == row.name) return &row;
  }
  return nullptr;
}

ParsedCommandLine refused(const std::string& why) {
  ParsedCommandLine line;
  line.action = Action::Refuse;
  line.refusal = "avdconv: " + why + "\n";
  return line;
}

}  // namespace

namespace {

// Options that cannot go together: a dry run creates no file, a report
// file included.
ParsedCommandLine checked(ParsedCommandLine line) {
  if (line.action == Action::Run && line.options.dryRun && !line.options.report.empty()) {
    return refused("--report writes a file, and --dry-run changes nothing: give one of them");
  }
  return line;
}

ParsedCommandLine parseArguments(const std::vector<std::string>& args);

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) { return checked(parseArguments(args)); }

namespace {

ParsedCommandLine parseArguments(const std::vector<std::string>& args) {
  ParsedCommandLine line;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (platform::isSystemHelpSwitch(arg)) {
      line.action = Action::Help;
      return line;
    }
    if (arg == "--") {
      if (i + 1 < args.size()) line.directory = args[i + 1];
      return line;
    }
    // A lone "-" names a directory, as "" does.
    if (arg.size() < 2 || arg[0] != '-') {
      line.directory = arg;
      return line;
    }
    std::string typed;  // the option as the user spelled it, without a value
    std::optional<std::string> value;
    const OptionSpec* row = nullptr;
    if (arg[1] == '-') {
      const std::size_t equals = arg.find('=');
      typed = arg.substr(0, equals);
      if (equals != std::string::npos) value = arg.substr(equals + 1);
      row = findOption(typed, '\0');
    } else {
      typed = arg;
      row = findOption({}, arg[1]);
      // "-fVALUE" for an option that takes one; "-hx" is no option.
      if (row && arg.size() > 2) {
        if (!row->valueName) row = nullptr;
        value = arg.substr(2);
      }
    }
    if (!row) return refused("unknown option '" + printableBytes(typed) + "'");
    const std::string name = row->name;
    if (row->valueName && !value) {
      if (i + 1 == args.size()) return refused(name + " needs a value");
      value = args[++i];
    } else if (!row->valueName && value) {
      return refused(name + " takes no value");
    }
    std::string why;
    if (!row->apply(line, value.value_or(std::string()), why)) return refused(name + " " + why);
    if (line.action != Action::Run) return line;
  }
  return line;
}

}  // namespace

std::string optionHelpLines() {
  std::size_t width = 0;
  auto left = [](const OptionSpec& row) {
    std::string text = row.shortName != '\0' ? std::string("  -") + row.shortName + ", " : std::string(6, ' ');
    text += row.name;
    if (row.valueName) text = text + " " + row.valueName;
    return text;
  };
  for (const OptionSpec& row : kOptions) width = std::max(width, left(row).size());
  std::string lines;
  for (const OptionSpec& row : kOptions) {
    const std::string head = left(row);
    lines += head + std::string(width - head.size() + 2, ' ') + row.help + "\n";
  }
  return lines;
}
