#pragma once

#include <atomic>
#include <cstdint>

#include "ostra/lock.h"
#include "xtd/dstring.h"

namespace Ostra {
class TaskDispatcher;
}

// The one console line that shows how many archives are done. Each task
// counts its archive and redraws the line; the task whose archive was the
// last stops the dispatcher.
class Progress {
 public:
  static constexpr std::uint32_t kInProgress = 4;  // the figure the banner shows as threads

  Progress();

  // Counts one archive as finished, redraws the line and, for the archive
  // that completes the run, stops the dispatcher: exactly once, and after
  // the lock is left, since stopping waits for workers that may be waiting
  // for this lock.
  void archiveFinished();

  // Redraws the line with the count as it stands; twice at completion.
  void update();

  // Starts a new run (used between runs in one process, as tests do).
  void restart(std::uint32_t total, Ostra::TaskDispatcher* dispatcher);

  std::uint32_t finished() const { return static_cast<std::uint32_t>(finished_.load()); }

 private:
  void draw(std::uint32_t done, std::uint32_t percent);

  std::uint32_t total_ = 0;
  std::atomic<std::int32_t> finished_{0};
  Ostra::Lock lock_;
  Ostra::TaskDispatcher* dispatcher_ = nullptr;
  xtd::dstring bar_;
  unsigned spinner_ = 0;
};

// The process-wide progress display.
Progress& progress();
