#include "services/jack/JackCycleClock.h"

#include <algorithm>

namespace wex {

JackCycleClock::Cycle JackCycleClock::place(std::optional<Cycle> estimate, jack_time_t now,
                                            jack_time_t period) {
  Cycle cycle{now, now};
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

}  // namespace wex
