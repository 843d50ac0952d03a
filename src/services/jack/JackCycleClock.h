#pragma once

#include <jack/types.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

namespace wex {

// Where the process cycles lie on the monotonic clock, for the arrival times
// of the events they carry. JACK's times of a cycle are an estimate filtered
// over past cycles, and a server that stalled (a busy machine, a server
// without realtime scheduling, the dummy driver) can leave it off the
// monotonic clock for seconds. The estimate is taken only where that clock
// allows it: the cycle began no later than half a period after its callback
// ran, and no earlier than a period before the callback of the cycle before.
// Otherwise the cycle is placed at its callback's time, lasting a period.
// Cycles never go back, nor overlap.
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

// The places of the last cycles on the monotonic clock with their frames, to
// find where in a cycle an output event goes: one period after the moment
// it came in or was sent, at the same place in its cycle. The moment is
// turned into a frame by the cycle it falls in, as the arrivals of that
// cycle were placed (JackProcessTable::moveInput), so that an event passed
// on keeps its frame whatever the clock did between the two cycles. Used by
// the process callback alone.
class JackCycleHistory {
 public:
  // A cycle as JackCycleClock placed it, the server's count of its first
  // frame, and its number of frames; cycles come in order.
  void add(JackCycleClock::Cycle cycle, jack_nframes_t firstFrame, jack_nframes_t frames);

  // The frame of the newest cycle at which an event goes that came in or
  // was sent at `moment` (microseconds of JACK's clock): the frame of the
  // moment (the nearest of its cycle's frames, which share the cycle's span
  // evenly; the first frame after a cycle for a moment between two cycles)
  // plus one period of the newest cycle. 0 for one whose frame has passed
  // (or that is older than the cycles kept); none for one whose frame lies
  // in a later cycle.
  std::optional<jack_nframes_t> outputFrame(jack_time_t moment) const;

 private:
  struct Entry {
    JackCycleClock::Cycle cycle;
    jack_nframes_t firstFrame = 0;
    jack_nframes_t frames = 0;
  };
  static constexpr size_t kKept = 16;

  std::array<Entry, kKept> entries_{};
  size_t added_ = 0;
};

// std::chrono::steady_clock's nanoseconds less JACK's microseconds times
// 1000 (both count the monotonic clock): taken once per process, so that a
// time turned from one clock to the other and back is the time it was.
int64_t steadyMinusJackNanoseconds();

}  // namespace wex
