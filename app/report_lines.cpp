#include "app/report_lines.h"

#include <chrono>
#include <cstdio>

#include "app/printable_name.h"
#include "app/run_report.h"

namespace {

using Reason = ConversionOutcome::Reason;

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string hex(const ArchiveFacts::Digest& digest) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out = "\"";
  for (const std::uint8_t byte : digest) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
  }
  return out + "\"";
}

std::string orNull(const std::optional<ArchiveFacts::Digest>& digest) { return digest ? hex(*digest) : "null"; }

const char* outcomeWord(const ConversionOutcome& o) {
  if (o.reason == Reason::ConvertedElsewhere) return "converted-elsewhere";
  if (o.converted()) return "converted";
  return o.skipped() ? "skipped" : "kept";
}

// Whether the outputs this run wrote have their final names.
bool outputsInPlace(const ConversionOutcome& o) {
  switch (o.reason) {
    case Reason::Converted:
    case Reason::MetadataNotSet:
    case Reason::StoppedEarly:
    case Reason::BeingWritten:
    case Reason::RecentlyWritten:
    case Reason::Changed:
    case Reason::CannotDelete:
    case Reason::NotDurable:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string captureTimeText(std::uint32_t seconds, std::uint32_t microseconds) {
  const std::int64_t total = std::int64_t{seconds} + microseconds / 1000000;
  const std::int64_t dayNumber = total / 86400;
  const std::int64_t ofDay = total % 86400;
  const std::chrono::year_month_day date{std::chrono::sys_days{std::chrono::days{dayNumber}}};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%06uZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(ofDay / 3600),
                static_cast<int>(ofDay / 60 % 60), static_cast<int>(ofDay % 60), microseconds % 1000000);
  return text;
}

std::string archiveLine(xtd::wstrview archive, const ConversionOutcome& outcome, const ArchiveFacts* facts) {
  const bool written = facts && outputsInPlace(outcome) && !facts->outputs.empty();
  std::string outputs = "[";
  std::string hashes = "[";
  std::uint64_t bytesWritten = 0;
  for (std::size_t i = 0; written && i < facts->outputs.size(); ++i) {
    const ArchiveFacts::Output& output = facts->outputs[i];
    if (i != 0) {
      outputs += ", ";
      hashes += ", ";
    }
    outputs += quoted(printableName(output.path.view()));
    hashes += orNull(output.sha256);
    bytesWritten += output.bytes;
  }
  const bool framed = written && facts->frames != 0;
  auto time = [&](const ArchiveFacts::Time& t) {
    return framed ? quoted(captureTimeText(t.seconds, t.microseconds)) : std::string("null");
  };
  std::string line = "{\"archive\": " + quoted(printableName(archive));
  line += ", \"outcome\": \"" + std::string(outcomeWord(outcome)) + "\"";
  line += ", \"reason\": " + (outcome.reason == Reason::Converted ? "null" : quoted(describeOutcome(outcome, archive)));
  line += ", \"outputs\": " + outputs + "]";
  line += ", \"frames\": " + std::to_string(written ? facts->frames : 0);
  line += ", \"first_frame_time\": " + time(facts ? facts->first : ArchiveFacts::Time{});
  line += ", \"last_frame_time\": " + time(facts ? facts->last : ArchiveFacts::Time{});
  line += ", \"bytes_read\": " + std::to_string(facts ? facts->bytesRead : 0);
  line += ", \"bytes_written\": " + std::to_string(bytesWritten);
  line += ", \"archive_sha256\": " + (facts ? orNull(facts->archiveSha256) : std::string("null"));
  line += ", \"output_sha256\": " + hashes + "]}\n";
  return line;
}

std::string summaryLine(std::uint64_t converted, std::uint64_t kept, std::uint64_t skipped, int status) {
  return "{\"summary\": {\"converted\": " + std::to_string(converted) + ", \"kept\": " + std::to_string(kept) +
         ", \"skipped\": " + std::to_string(skipped) + ", \"status\": " + std::to_string(status) + "}}\n";
}
