#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "commit/conversion_outcome.h"
#include "ostra/lock.h"
#include "xtd/dstring.h"

// What became of the run: every archive that is still there and every
// entry that was skipped, with its path and the reason, told at the end so
// that the progress line is never broken up. An archive that was converted
// costs nothing here but a count.
class ArchiveList;

// Why an archive is kept or skipped (or what a converted one lacks), in the
// words of its line: "unknown codec 3", "output name is a directory".
std::string describeOutcome(const ConversionOutcome& outcome, xtd::wstrview archive);

class RunReport {
 public:
  RunReport() = default;
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;

  // From any thread. Without memory for the entry, the archive is still
  // counted, and the report says how many went without their names.
  void record(xtd::wstrview path, const ConversionOutcome& outcome) noexcept;

  std::uint32_t converted() const { return converted_.load(std::memory_order_relaxed); }
  // After write: the counts it gave (also when it wrote nothing).
  std::uint64_t kept() const { return kept_; }
  std::uint64_t skipped() const { return skipped_; }

  // Told every outcome once, as soon as it is final: at once, or, for one
  // that another run may still settle, by write. Set before the run; it
  // must not throw.
  using Listener = std::function<void(xtd::wstrview path, const ConversionOutcome& outcome)>;
  void setListener(Listener listener) { listener_ = std::move(listener); }

  // Once the run is over: an archive left to another run, or whose output
  // name another run took, that the other run has converted meanwhile is no
  // longer kept. `convertedElsewhere` tells whether it was.
  // Returns how many outputs other runs took that are still unsettled.
  template <class ConvertedElsewhere>
  std::uint32_t settleWithOtherRuns(ConvertedElsewhere convertedElsewhere) {
    using Reason = ConversionOutcome::Reason;
    std::uint32_t displaced = 0;
    Ostra::LockGuard guard(lock_);
    for (Entry& e : entries_) {
      const bool otherRun = e.outcome.reason == Reason::InUse || e.outcome.reason == Reason::Displaced;
      if (otherRun && convertedElsewhere(e.path.view())) e.outcome = ConversionOutcome::because(Reason::ConvertedElsewhere);
      if (e.outcome.reason == Reason::Displaced) ++displaced;
    }
    return displaced;
  }

  using Sink = std::function<void(const std::string& line)>;
  // Hands `out` one line per archive kept or converted with a failure and
  // per entry skipped, by path; then one for each archive still on `rest`
  // (taken off it), which no task came to, for `whyRest`; then the counts.
  // Nothing, and false, when every archive was converted.
  bool write(const Sink& out, ArchiveList* rest = nullptr,
             ConversionOutcome::Reason whyRest = ConversionOutcome::Reason::NotStarted);
  // 1 when anything failed, else 0.
  int exitStatus() const;

 private:
  struct Entry {
    xtd::dwstring path;
    ConversionOutcome outcome;
    bool told = false;  // to the listener
  };

  Listener listener_;
  std::uint64_t kept_ = 0;
  std::uint64_t skipped_ = 0;

  mutable Ostra::Lock lock_{"RunReport"};
  std::vector<Entry> entries_;
  std::atomic<std::uint32_t> converted_{0};
  // Outcomes recorded without an entry, for lack of memory: those of kept
  // archives and skipped entries, and whether any of them failed.
  std::atomic<std::uint32_t> unnamed_{0};
  std::atomic<bool> unnamedFailed_{false};
  // An archive no task came to for a failure (no memory).
  bool restFailed_ = false;
};
