#pragma once

#include <jack/types.h>

#include <atomic>
#include <cstdint>
#include <optional>

namespace wex {

// Where the process cycles lie on the monotonic clock, for the arrival times
// of the events they carry. JACK's times of a cycle are an estimate filtered
// over past cycles, and a server that stalled (a busy machine, a server
// without realtime scheduling) can leave it off the monotonic clock for
// seconds. The estimate is taken only where that clock allows it: the cycle
// began no later than half a period after its callback ran, and no earlier
// than a period before the callback of the cycle before. Otherwise the whole
// cycle is placed at its callback's time. Cycles never go back.
// Used by the process callback alone, but for replacements().
class JackCycleClock {
 public:
  // When a cycle's first frame was due, and the frame after its last.
  struct Cycle {
    jack_time_t first = 0;
    jack_time_t next = 0;
  };

  // Called once for every process cycle, at its callback's start (`now`),
  // with the server's estimate of this cycle if it gave one and the period
  // its buffer size and sample rate make (0 if unknown).
  Cycle place(std::optional<Cycle> estimate, jack_time_t now, jack_time_t period);

  // Cycles whose estimate was off and that were placed at their callback.
  uint64_t replacements() const { return replacements_.load(std::memory_order_relaxed); }

 private:
  bool plausible(const Cycle& estimate, jack_time_t now, jack_time_t period) const;

  jack_time_t previousCallback_ = 0;
  jack_time_t lastEnd_ = 0;
  std::atomic<uint64_t> replacements_{0};
};

}  // namespace wex
