#include "app/run_report.h"

#include <algorithm>

#include "xtd/utf8.h"

namespace {

using Reason = ConversionOutcome::Reason;

std::string systemReason(const platform::SystemError& error) {
  return error ? platform::describe(error) : std::string("unknown reason");
}

// The reason in plain words, as the report gives it.
std::string describeOutcome(const ConversionOutcome& o) {
  switch (o.reason) {
    case Reason::Converted:
      return "converted";
    case Reason::Empty:
      return "empty";
    case Reason::NoStreamHeader:
      return "no stream header";
    case Reason::UnknownCodec:
      return "unknown codec " + std::to_string(o.number);
    case Reason::HeaderRefused:
      return "stream header cannot be converted";
    case Reason::StoppedEarly:
      return "stopped at byte " + std::to_string(o.offset) + " of " + std::to_string(o.size) +
             (o.stop == ConversionOutcome::Stop::StreamHeader ? " (second stream header)" : " (damaged record)") +
             ", output written, archive kept";
    case Reason::InUse:
      return "in use by another run";
    case Reason::BeingWritten:
      return "still being written by another program, output written, archive kept";
    case Reason::NotRegular:
      return "not a regular file";
    case Reason::Vanished:
      return "gone before it could be converted";
    case Reason::CannotOpen:
      return "cannot open: " + systemReason(o.error);
    case Reason::CannotLock:
      return "cannot lock: " + systemReason(o.error);
    case Reason::ReadError:
      return "read error at byte " + std::to_string(o.offset) + ": " + systemReason(o.error);
    case Reason::OutputFailed:
      if (o.error.kind == platform::SystemError::Kind::IsDirectory) return "output name is a directory";
      return "output could not be written: " + systemReason(o.error);
    case Reason::OutputTooLarge:
      return "output would be larger than its format can hold";
    case Reason::Changed:
      return "changed while it was converted, output written, archive kept";
    case Reason::CannotDelete:
      return "output written, archive could not be deleted: " + systemReason(o.error);
    case Reason::OutOfMemory:
      return "out of memory";
    case Reason::PathTooLong:
      return "path too long";
    case Reason::UnrepresentableName:
      return "name cannot be represented";
    case Reason::UnreadableDirectory:
      return "directory cannot be read: " + systemReason(o.error);
  }
  return "unknown outcome";
}

}  // namespace

void RunReport::record(xtd::wstrview path, const ConversionOutcome& outcome) {
  if (outcome.reason == Reason::Converted) {
    converted_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  Entry entry;
  entry.path.reserve(path.length);
  xtd::wide_to_utf8(path.data, path.data + path.length, entry.path);
  entry.outcome = outcome;
  Ostra::LockGuard guard(lock_);
  entries_.push_back(std::move(entry));
}

std::string RunReport::text() const {
  std::vector<const Entry*> sorted;
  {
    Ostra::LockGuard guard(lock_);
    for (const Entry& e : entries_) sorted.push_back(&e);
  }
  if (sorted.empty()) return {};
  std::sort(sorted.begin(), sorted.end(), [](const Entry* a, const Entry* b) {
    return std::string_view(a->path.data(), a->path.length()) < std::string_view(b->path.data(), b->path.length());
  });
  std::string out;
  std::uint32_t kept = 0;
  for (const Entry* e : sorted) {
    const bool skipped = e->outcome.skipped();
    kept += skipped ? 0 : 1;
    out += skipped ? "avdconv: skipped " : "avdconv: kept ";
    out.append(e->path.data(), e->path.length());
    out += ": " + describeOutcome(e->outcome) + "\n";
  }
  out += "avdconv: " + std::to_string(converted()) + " converted, " + std::to_string(kept) + " kept, " +
         std::to_string(sorted.size() - kept) + " skipped\n";
  return out;
}

int RunReport::exitStatus() const {
  Ostra::LockGuard guard(lock_);
  return std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) { return e.outcome.failed(); }) ? 1 : 0;
}
