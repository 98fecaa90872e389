#pragma once

#include <atomic>
#include <cstdint>

#include "ostra/lock.h"
#include "xtd/dstring.h"

// The one console line that shows how many archives are done. Each task
// counts its archive and redraws the line.
class Progress {
 public:
  static constexpr std::uint32_t kInProgress = 4;  // the figure the banner shows as threads

  Progress();

  // Counts one archive as finished and redraws the line.
  void archiveFinished();

  // Redraws the line with the count as it stands; twice at completion.
  void update();

  // Starts a new run (used between runs in one process, as tests do).
  void restart(std::uint32_t total);

  std::uint32_t finished() const { return static_cast<std::uint32_t>(finished_.load()); }

 private:
  void draw(std::uint32_t done, std::uint32_t percent);

  std::uint32_t total_ = 0;
  std::atomic<std::int32_t> finished_{0};
  Ostra::Lock lock_;
  xtd::dstring bar_;
  unsigned spinner_ = 0;
};

// The process-wide progress display.
Progress& progress();
