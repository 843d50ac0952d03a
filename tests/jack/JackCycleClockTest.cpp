#include <gtest/gtest.h>

#include "services/jack/JackCycleClock.h"

namespace wex::test {
namespace {

using Cycle = JackCycleClock::Cycle;
constexpr jack_time_t kPeriod = 1000;
constexpr jack_time_t kNow = 10'000'000;

// Each row: a cycle placed before (its estimate and callback time), then the
// cycle under test, what it must be placed at and whether it counts as a
// replaced estimate.
struct Row {
  const char* what;
  std::optional<Cycle> priorEstimate;
  jack_time_t priorCallback;
  std::optional<Cycle> estimate;
  Cycle placed;
  uint64_t replacements;
};

TEST(JackCycleClock, TakesJacksEstimateOnlyWhereTheMonotonicClockAllowsIt) {
  const Cycle goodPrior{kNow - 1100, kNow - 100};
  const Row rows[] = {
      {"an estimate a little behind the callback",
       goodPrior,
       kNow - 1000,
       Cycle{kNow - 100, kNow + 900},
       {kNow - 100, kNow + 900},
       0},
      {"jitter ahead of the callback starts the cycle with it",
       goodPrior,
       kNow - 1000,
       Cycle{kNow + 400, kNow + 1400},
       {kNow, kNow + 1000},
       0},
      {"more than half a period ahead",
       goodPrior,
       kNow - 1000,
       Cycle{kNow + 501, kNow + 1501},
       {kNow, kNow + kPeriod},
       1},
      {"0.7 s ahead, as a stalled server left it",
       goodPrior,
       kNow - 1000,
       Cycle{kNow + 718'000, kNow + 719'000},
       {kNow, kNow + kPeriod},
       1},
      {"earlier than a period before the last callback",
       std::nullopt,
       kNow - 1000,
       Cycle{kNow - 2001, kNow - 1001},
       {kNow, kNow + kPeriod},
       1},
      {"a late callback with a true estimate",
       Cycle{kNow - 2999, kNow - 1999},
       kNow - 1000,
       Cycle{kNow - 1999, kNow - 999},
       {kNow - 1999, kNow - 999},
       0},
      {"a cycle twice as long as the period",
       goodPrior,
       kNow - 1000,
       Cycle{kNow - 100, kNow + 2000},
       {kNow, kNow + kPeriod},
       1},
      {"a cycle that ends before it begins",
       goodPrior,
       kNow - 1000,
       Cycle{kNow, kNow - 1},
       {kNow, kNow + kPeriod},
       1},
      {"no estimate at all, which is no replacement",
       goodPrior,
       kNow - 1000,
       std::nullopt,
       {kNow, kNow + kPeriod},
       0},
      {"never before where the last cycle ended",
       Cycle{kNow - 1000, kNow + 100},
       kNow - 950,
       Cycle{kNow - 50, kNow + 950},
       {kNow + 100, kNow + 950},
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    JackCycleClock clock;
    clock.place(row.priorEstimate, row.priorCallback, kPeriod);
    const Cycle placed = clock.place(row.estimate, kNow, kPeriod);
    EXPECT_EQ(placed.first, row.placed.first);
    EXPECT_EQ(placed.next, row.placed.next);
    EXPECT_EQ(clock.replacements(), row.replacements);
  }
}

constexpr jack_nframes_t kFrames = 128;
constexpr jack_time_t kSpan = 2667;  // 128 frames at 48 kHz, in microseconds

// Each row: the moment an event came in or was sent, and the frame of the
// newest cycle it goes at (none: a later cycle). The cycles kept: three of
// kSpan as an estimate placed them, frames 1000 to 1383, then one placed at
// its callback a while after (frames 1384 to 1511), the newest.
struct HistoryRow {
  const char* what;
  jack_time_t moment;
  std::optional<jack_nframes_t> frame;
};

TEST(JackCycleHistory, AnEventGoesOnePeriodAfterTheFrameOfItsMoment) {
  JackCycleHistory history;
  const jack_time_t start = kNow - 3 * kSpan - 5000;
  for (jack_nframes_t i = 0; i < 3; ++i) {
    history.add({start + i * kSpan, start + (i + 1) * kSpan}, 1000 + i * kFrames, kFrames);
  }
  const jack_time_t last = start + 2 * kSpan;  // the cycle before the newest
  history.add({kNow, kNow + kSpan}, 1384, kFrames);
  const HistoryRow rows[] = {
      {"the first frame of the cycle before", last, 0},
      {"a frame's time into the cycle before", last + 21, 1},  // 20.8 us a frame
      {"just under half a frame in", last + 10, 0},
      {"just over half a frame in", last + 11, 1},
      {"the middle of the cycle before", last + kSpan / 2, 64},
      {"the last frame of the cycle before", last + kSpan - 21, 127},
      {"nearer its end than its last frame", last + kSpan - 1, 127},
      {"between the cycle before and the newest", last + kSpan + 2000, std::nullopt},
      {"two cycles back: its place has passed", last - kSpan + 100, 0},
      {"older than every cycle kept", start - 1'000'000, 0},
      {"the newest cycle's own first frame", kNow, std::nullopt},
      {"a moment to come", kNow + 10 * kSpan, std::nullopt},
  };
  for (const HistoryRow& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(history.outputFrame(row.moment), row.frame);
  }
}

// The round trip a thru makes: an event placed in one cycle by its frame, as
// the input side places arrivals, goes at the same frame of the next cycle,
// for every frame, for spans that do not divide into frames evenly, and
// whatever the clock did between the two cycles (the next one placed early,
// late, or at its callback after a stall).
TEST(JackCycleHistory, AnEventPassedOnGoesAtTheFrameItArrivedAtInTheNextCycle) {
  for (const jack_time_t span : {kSpan, jack_time_t{2666}, jack_time_t{2746}, jack_time_t{21333}}) {
    for (const jack_time_t gap : {jack_time_t{0}, jack_time_t{900}, jack_time_t{300'000}}) {
      JackCycleHistory history;
      const JackCycleClock::Cycle in{kNow, kNow + span};
      history.add(in, 5000, kFrames);
      history.add({in.next + gap, in.next + gap + span}, 5000 + kFrames, kFrames);
      for (jack_nframes_t frame = 0; frame < kFrames; ++frame) {
        // As JackProcessTable::moveInput places an arrival.
        const jack_time_t arrival = in.first + span * frame / kFrames;
        EXPECT_EQ(history.outputFrame(arrival), frame)
            << "span " << span << ", gap " << gap << ", frame " << frame;
      }
    }
  }
}

}  // namespace
}  // namespace wex::test
