#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/shard.h"
#include "writers/create_writer.h"

// What the options ask of a run.
struct Options {
  OutputFormat format = OutputFormat::Flv;
  bool timestamps = false;
  // Every archive stays as it was; one whose outputs this run made earlier
  // from it, unchanged since, is not converted again.
  bool keepArchives = false;
  // Says what a run would do and changes nothing.
  bool dryRun = false;
  // --report FILE: the report file's path; empty for none.
  std::u16string report;
  // --shard K/N: the run's share of the archives.
  Shard shard;
  // Frames behind damage and later recording sessions are converted too.
  bool salvage = false;
};

// What a command line asks for.
struct ParsedCommandLine {
  enum class Action : std::uint8_t { Run, Help, Version, Refuse };
  Action action = Action::Run;
  Options options;
  // Run: the directory argument's bytes, not yet checked; none when the
  // command line names no directory.
  std::optional<std::string> directory;
  // Refuse: the one line for standard error, "avdconv: ...\n", with what the
  // user typed quoted as names are.
  std::string refusal;
};

// Reads the arguments as platform::argumentsAsUtf8 gives them, program name
// first. Options come before the directory, GNU style ("--format mp4" or
// "--format=mp4"; "--" ends them); the first argument that is not an option
// is the directory and the rest are ignored. Options are read left to
// right: the first help or version request, or the first fault, decides.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);

// The option list of the help text: one line per option.
std::string optionHelpLines();
