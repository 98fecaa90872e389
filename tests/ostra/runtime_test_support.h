#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#include "ostra/task.h"
#include "tests/support/eventually.h"

namespace ostra_test {

using namespace std::chrono_literals;

// Ends the process if the scope has not been left in time, so that a hang
// fails the test run instead of blocking it.
class Watchdog {
 public:
  explicit Watchdog(const char* what, std::chrono::seconds limit = 60s) : thread_([this, what, limit] {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
        std::fprintf(stderr, "watchdog: %s did not finish within %lld s\n", what,
                     static_cast<long long>(limit.count()));
        std::fflush(stderr);
        std::abort();
      }
    }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  std::thread thread_;
};

using avdtest::eventually;

// A task whose run is a function; counts its runs.
class FnTask : public Ostra::Task {
 public:
  using Fn = std::function<void(FnTask& self, Ostra::TaskContext& context, Ostra::Tick now)>;
  explicit FnTask(Fn fn) : fn_(std::move(fn)) {}

  void run(Ostra::TaskContext& context, Ostra::Tick now) override {
    ++runs;
    fn_(*this, context, now);
  }

  std::atomic<int> runs{0};

 private:
  Fn fn_;
};

}  // namespace ostra_test
