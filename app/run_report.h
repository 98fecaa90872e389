#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "app/conversion_outcome.h"
#include "ostra/lock.h"
#include "xtd/dstring.h"

// What became of the run: every archive that is still there and every
// entry that was skipped, with its path and the reason, told at the end so
// that the progress line is never broken up. An archive that was converted
// costs nothing here but a count.
class RunReport {
 public:
  RunReport() = default;
  RunReport(const RunReport&) = delete;
  RunReport& operator=(const RunReport&) = delete;

  // From any thread.
  void record(xtd::wstrview path, const ConversionOutcome& outcome);

  std::uint32_t converted() const { return converted_.load(std::memory_order_relaxed); }

  // One line per archive kept and per entry skipped, by path, then the
  // counts; empty when every archive was converted.
  std::string text() const;
  // 1 when anything failed, else 0.
  int exitStatus() const;

 private:
  struct Entry {
    xtd::dstring path;  // UTF-8
    ConversionOutcome outcome;
  };

  mutable Ostra::Lock lock_{"RunReport"};
  std::vector<Entry> entries_;
  std::atomic<std::uint32_t> converted_{0};
};
