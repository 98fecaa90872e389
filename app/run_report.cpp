#include "app/run_report.h"

#include <algorithm>
#include <new>

#include "app/printable_name.h"
#include "app/archive_list.h"
#include "platform/paths.h"
#include "commit/output_path.h"

namespace {

using Reason = ConversionOutcome::Reason;
using Subject = ConversionOutcome::Subject;

xtd::wstrview nameOf(xtd::wstrview path) {
  std::uint32_t start = path.length;
  while (start > 0 && path[start - 1] != platform::kPathSeparator) --start;
  return xtd::wstrview(path.data + start, path.length - start);
}

// The file a failed call was about, as the report names it: a file beside
// the archive by its name, the directory by its path; nothing for the
// archive itself, which the line names already.
std::string subjectOf(const ConversionOutcome& o, xtd::wstrview archive) {
  if (o.subject == Subject::Directory) {
    const xtd::wstrview name = nameOf(archive);
    std::uint32_t length = archive.length - name.length;
    if (length > 1) --length;  // without the separator, unless it is the root
    return printableName(xtd::wstrview(archive.data, length));
  }
  if (o.subject == Subject::Archive || o.file.empty()) return {};
  return printableName(o.file.view());
}

// The system's reason, after the call that failed and the file it was
// about: "fsync a.flv.1234-0badf00d.avdconv-tmp: Input/output error".
std::string systemReason(const ConversionOutcome& o, xtd::wstrview archive) {
  if (!o.error) return "unknown reason";
  std::string text;
  if (o.error.call) {
    text = o.error.call;
    const std::string subject = subjectOf(o, archive);
    if (!subject.empty()) text += " " + subject;
    text += ": ";
  }
  return text + platform::describe(o.error);
}

const char* prefixOf(const ConversionOutcome& o) {
  if (o.converted()) return "avdconv: converted ";
  return o.skipped() ? "avdconv: skipped " : "avdconv: kept ";
}

// Another run may still turn these into "converted by another run".
bool unsettled(const ConversionOutcome& o) { return o.reason == Reason::InUse || o.reason == Reason::Displaced; }

// "1 frame", "2 frames".
std::string counted(std::uint64_t n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

}  // namespace

std::string describeOutcome(const ConversionOutcome& o, xtd::wstrview archive) {
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
    case Reason::UnsupportedFrame:
      return "a frame is no H.264 picture that a ." + printableName(xtd::wstrview(o.extension, 3)) +
             " file can hold; without --format it converts";
    case Reason::StoppedEarly:
      return "stopped at byte " + std::to_string(o.offset) + " of " + std::to_string(o.size) +
             (o.stop == ConversionOutcome::Stop::StreamHeader ? " (second stream header)" : " (damaged record)") +
             ", output written, archive kept; --salvage converts what follows";
    case Reason::Salvaged: {
      std::string text = "salvaged " + counted(o.frames, "frame") + " in " + counted(o.outputs, "output") + ", skipped " +
                         counted(o.skippedBytes, "byte") + " in " + counted(o.places, "place");
      if (o.places != 0) text += " (the first at byte " + std::to_string(o.offset) + ")";
      return text + ", archive kept";
    }
    case Reason::InUse:
      return "in use by another run";
    case Reason::HeldByProgram:
      return "in use by another program";
    case Reason::BeingWritten:
      return "still being written by another program, output written, archive kept";
    case Reason::RecentlyWritten:
      return "still being written (modified " + std::to_string(o.number) +
             " s ago; writers cannot be seen here), output written, archive kept";
    case Reason::Interrupted:
      return "interrupted, archive kept";
    case Reason::NotStarted:
      return "not converted: the run was interrupted";
    case Reason::WaitingForOtherName:
      return "waiting for another name of the same file";
    case Reason::NotRegular:
      return "not a regular file";
    case Reason::Vanished:
      return "gone before it could be converted";
    case Reason::ConvertedElsewhere:
      return "converted by another run";
    case Reason::CannotOpen:
      return "cannot open: " + systemReason(o, archive);
    case Reason::CannotLock:
      return "cannot lock: " + systemReason(o, archive);
    case Reason::ReadError:
      return "read error at byte " + std::to_string(o.offset) + ": " + systemReason(o, archive);
    case Reason::OutputFailed:
      if (o.error.kind == platform::SystemError::Kind::IsDirectory) return "output name is a directory";
      return "output could not be written: " + systemReason(o, archive);
    case Reason::OutputNameTaken: {
      const xtd::dwstring stand = sessionArchivePath(archive, o.number);
      const xtd::dwstring output = outputPathFor(stand.view(), xtd::wstrview(o.extension, 3));
      return "a further recording session needs the name " + printableName(nameOf(output.view())) + ", but " +
             (o.error.kind == platform::SystemError::Kind::IsDirectory ? std::string("that is a directory")
                                                                       : printableName(nameOf(stand.view())) +
                                                                             " is another archive");
    }
    case Reason::OutputTooLarge:
      return "output would be larger than its format can hold";
    case Reason::ChangedWhileRead:
      return "changed while it was read, archive kept";
    case Reason::Changed:
      return "changed while it was converted, output written, archive kept";
    case Reason::CannotDelete:
      return "output written, archive could not be deleted: " + systemReason(o, archive);
    case Reason::NotDurable:
      return "output written, archive kept: " + systemReason(o, archive);
    case Reason::Displaced:
      return "output written, archive kept: another file took the output's name";
    case Reason::MetadataNotSet:
      return std::string(o.archiveKept ? "archive kept as asked" : "archive deleted") +
             ", but the output lacks its owner, permissions or times: " + systemReason(o, archive);
    case Reason::OutOfMemory:
      return "out of memory";
    case Reason::PathTooLong:
      return "path too long";
    case Reason::UnreadableDirectory:
      return "directory cannot be read: " + systemReason(o, archive);
  }
  return "unknown outcome";
}

void RunReport::record(xtd::wstrview path, const ConversionOutcome& outcome) noexcept {
  if (outcome.converted()) converted_.fetch_add(1, std::memory_order_relaxed);
  const bool tellNow = listener_ && !unsettled(outcome);
  if (tellNow) listener_(path, outcome);
  if (outcome.reason == Reason::Converted) return;
  try {
    Entry entry{xtd::dwstring(path), outcome, tellNow};
    Ostra::LockGuard guard(lock_);
    entries_.push_back(std::move(entry));
  } catch (const std::bad_alloc&) {
    if (listener_ && !tellNow) listener_(path, outcome);
    unnamed_.fetch_add(1, std::memory_order_relaxed);
    if (outcome.failed()) unnamedFailed_.store(true, std::memory_order_relaxed);
  }
}

bool RunReport::write(const Sink& out, ArchiveList* rest, ConversionOutcome::Reason whyRest) {
  std::vector<const Entry*> sorted;
  {
    Ostra::LockGuard guard(lock_);
    for (const Entry& e : entries_) sorted.push_back(&e);
  }
  const std::uint32_t unnamed = unnamed_.load(std::memory_order_relaxed);
  std::sort(sorted.begin(), sorted.end(), [](const Entry* a, const Entry* b) {
    return std::u16string_view(a->path.data(), a->path.length()) < std::u16string_view(b->path.data(), b->path.length());
  });
  std::uint64_t kept = 0, skipped = 0;
  bool wrote = false;
  auto line = [&](const ConversionOutcome& o, xtd::wstrview path) {
    wrote = true;
    out(prefixOf(o) + printableName(path) + ": " + describeOutcome(o, path) + "\n");
  };
  for (const Entry* e : sorted) {
    if (e->outcome.skipped()) {
      ++skipped;
    } else if (!e->outcome.converted()) {
      ++kept;
    }
    line(e->outcome, e->path.view());
    if (listener_ && !e->told) listener_(e->path.view(), e->outcome);
  }
  // The archives no task took, in the order they were found: told as they
  // come off the list, without a copy of their names.
  const ConversionOutcome left = ConversionOutcome::because(whyRest);
  ArchiveList::Taken taken;
  while (rest && rest->take(taken)) {
    ++kept;
    restFailed_ = restFailed_ || left.failed();
    line(left, taken.path.view());
    if (listener_) listener_(taken.path.view(), left);
  }
  kept_ = kept;
  skipped_ = skipped;
  if (unnamed != 0) {
    wrote = true;
    out("avdconv: " + std::to_string(unnamed) +
        " more archives or entries were kept or skipped; their names could not be kept for want of memory\n");
  }
  if (!wrote) return false;
  out("avdconv: " + std::to_string(converted()) + " converted, " + std::to_string(kept) + " kept, " +
      std::to_string(skipped) + " skipped\n");
  return true;
}

int RunReport::exitStatus() const {
  if (unnamedFailed_.load(std::memory_order_relaxed) || restFailed_) return 1;
  Ostra::LockGuard guard(lock_);
  return std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) { return e.outcome.failed(); }) ? 1 : 0;
}
