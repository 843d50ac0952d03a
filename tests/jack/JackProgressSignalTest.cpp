#include <gtest/gtest.h>

#include <thread>

#include "services/jack/JackProgressSignal.h"

namespace wex::test {
namespace {

TEST(JackProgressSignal, AWaiterWakesOnThePostAndTimesOutWithoutOne) {
  JackProgressSignal signal;
  const uint32_t seen = signal.count();
  EXPECT_FALSE(
      signal.waitPast(seen, JackProgressSignal::Clock::now() + std::chrono::milliseconds(20)));
  std::thread poster([&] { signal.post(); });
  EXPECT_TRUE(signal.waitPast(seen, JackProgressSignal::Clock::now() + std::chrono::seconds(30)));
  poster.join();
}

}  // namespace
}  // namespace wex::test
