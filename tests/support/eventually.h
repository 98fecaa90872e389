#pragma once

#include <chrono>
#include <thread>

namespace avdtest {

// Polls `done` every millisecond until it holds or `limit` has passed; for
// tests that wait on another thread without a signal to wait for.
template <class Pred>
bool eventually(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace avdtest
