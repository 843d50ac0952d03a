#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

namespace wex {

// A counter that one thread advances and others wait on: the process cycle
// posts at the end of every cycle, the reader after every pass. post() takes
// no lock and allocates nothing (one futex wake, only when someone waits), so
// the JACK process callback may call it.
class JackProgressSignal {
 public:
  using Clock = std::chrono::steady_clock;

  void post();
  // The number of posts so far.
  uint32_t count() const { return count_.load(); }
  // Waits until a post is made after count() returned `seen`, or until the
  // deadline. True when one was made.
  bool waitPast(uint32_t seen, Clock::time_point deadline);

  // Waits until `done()` holds, looking again after each post; false when the
  // deadline passes first.
  template <typename Done>
  bool waitUntil(Done done, Clock::time_point deadline) {
    for (;;) {
      const uint32_t seen = count();
      if (done()) return true;
      if (!waitPast(seen, deadline) && Clock::now() >= deadline) return done();
    }
  }

 private:
  std::atomic<uint32_t> count_{0};
  std::atomic<uint32_t> waiters_{0};
};

}  // namespace wex
