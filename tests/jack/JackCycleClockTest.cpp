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
       {kNow, kNow},
       1},
      {"0.7 s ahead, as a stalled server left it",
       goodPrior,
       kNow - 1000,
       Cycle{kNow + 718'000, kNow + 719'000},
       {kNow, kNow},
       1},
      {"earlier than a period before the last callback",
       std::nullopt,
       kNow - 1000,
       Cycle{kNow - 2001, kNow - 1001},
       {kNow, kNow},
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
       {kNow, kNow},
       1},
      {"a cycle that ends before it begins",
       goodPrior,
       kNow - 1000,
       Cycle{kNow, kNow - 1},
       {kNow, kNow},
       1},
      {"no estimate at all, which is no replacement",
       goodPrior,
       kNow - 1000,
       std::nullopt,
       {kNow, kNow},
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

}  // namespace
}  // namespace wex::test
