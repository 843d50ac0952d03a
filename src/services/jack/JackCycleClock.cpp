#include "services/jack/JackCycleClock.h"

#include <jack/jack.h>

#include <algorithm>
#include <chrono>

namespace wex {

JackCycleClock::Cycle JackCycleClock::place(std::optional<Cycle> estimate, jack_time_t now,
                                            jack_time_t period) {
  Cycle cycle{now, now + period};
  if (estimate && plausible(*estimate, now, period)) {
    cycle = *estimate;
    // Within the estimate's jitter: the cycle starts with its callback.
    if (cycle.first > now) {
      cycle.next -= cycle.first - now;
      cycle.first = now;
    }
  } else if (estimate) {
    replacements_.fetch_add(1, std::memory_order_relaxed);
  }
  // Overlapping the cycle before, it is squeezed rather than moved, so that
  // overlaps never add up to a drift.
  if (cycle.first < lastEnd_) {
    cycle.first = lastEnd_;
    cycle.next = std::max(cycle.next, cycle.first);
  }
  lastEnd_ = cycle.next;
  previousCallback_ = now;
  return cycle;
}

bool JackCycleClock::plausible(const Cycle& estimate, jack_time_t now, jack_time_t period) const {
  if (period == 0 || estimate.next <= estimate.first || estimate.next - estimate.first > 2 * period)
    return false;
  if (estimate.first > now + period / 2) return false;
  const jack_time_t earliest = previousCallback_ != 0 ? previousCallback_ : now - period;
  return estimate.first + period >= earliest;
}

void JackCycleHistory::add(JackCycleClock::Cycle cycle, jack_nframes_t firstFrame,
                           jack_nframes_t frames) {
  entries_[added_ % kKept] = {cycle, firstFrame, frames};
  ++added_;
}

std::optional<jack_nframes_t> JackCycleHistory::outputFrame(jack_time_t moment) const {
  if (added_ == 0) return 0;
  const Entry& newest = entries_[(added_ - 1) % kKept];
  // The newest cycle the moment is not before.
  const size_t kept = std::min(added_, kKept);
  for (size_t back = 0; back < kept; ++back) {
    const Entry& entry = entries_[(added_ - 1 - back) % kKept];
    const JackCycleClock::Cycle& cycle = entry.cycle;
    if (moment < cycle.first) continue;
    jack_nframes_t offset = entry.frames;  // between this cycle and the next
    if (moment < cycle.next) {
      const jack_time_t span = cycle.next - cycle.first;
      const jack_time_t nearest = ((moment - cycle.first) * entry.frames + span / 2) / span;
      offset = static_cast<jack_nframes_t>(
          std::min<jack_time_t>(nearest, entry.frames > 0 ? entry.frames - 1 : 0));
    }
    // Frame counts wrap; their differences, as signed numbers, do not.
    const jack_nframes_t due = entry.firstFrame + offset + newest.frames;
    const auto ahead = static_cast<int32_t>(due - newest.firstFrame);
    if (ahead < 0) return 0;
    if (static_cast<jack_nframes_t>(ahead) >= newest.frames) return std::nullopt;
    return static_cast<jack_nframes_t>(ahead);
  }
  return 0;
}

int64_t steadyMinusJackNanoseconds() {
  static const int64_t offset = [] {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() -
           static_cast<int64_t>(jack_get_time()) * 1000;
  }();
  return offset;
}

}  // namespace wex
