#include "app/progress.h"

#include <cstdio>

#include "platform/interrupts.h"
#include "platform/program.h"

namespace {

constexpr char kSpinner[4] = {'\\', '-', '/', '|'};
constexpr std::uint32_t kBarLength = 50;

// Constructed before main, like the rest of the runtime's process-wide state.
Progress g_progress;

}  // namespace

Progress& progress() { return g_progress; }

Progress::Progress() : lock_("Progress") {
  bar_.reserve(kBarLength);
  for (std::uint32_t i = 0; i < kBarLength; ++i) bar_.push_back('#');
}

void Progress::restart(std::uint32_t total) {
  total_ = total;
  finished_.store(0);
  spinner_ = 0;
}

void Progress::archiveFinished() {
  finished_.fetch_add(1);
  // Once asked to stop, the archives left go by in a moment: the line
  // stays as it was.
  if (platform::interruptSignal() == 0) update();
}

void Progress::update() {
  Ostra::LockGuard guard(lock_);
  const std::uint32_t done = finished();
  // 64-bit: done * 100 must not wrap however many archives there are.
  const auto percent = static_cast<std::uint32_t>(std::uint64_t{done} * 100 / total_);
  draw(done, percent);
  if (done == total_) draw(done, 100);
  platform::flushStdout();
}

void Progress::draw(std::uint32_t done, std::uint32_t percent) {
  const std::uint32_t inProgress = std::uint64_t{done} + kInProgress <= total_ ? kInProgress : total_ - done;
  char line[160];
  int n = std::snprintf(line, sizeof line, "\rin progress: %u : finished: %u/%u : %.*s%c %u%%", inProgress, done,
                        total_, static_cast<int>(percent / 4), bar_.data(), kSpinner[spinner_], percent);
  if (n > static_cast<int>(sizeof line) - 1) n = sizeof line - 1;
  if (n > 0) platform::writeStdout(line, static_cast<std::size_t>(n));
  spinner_ = (spinner_ + 1) % 4;
}
