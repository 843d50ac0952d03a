#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "services/jack/JackCallbackGate.h"
#include "services/jack/JackProgressSignal.h"

namespace wex::test {
namespace {

TEST(JackCallbackGate, AThrowingCallbackIsCountedAndLeavesTheGateSoDisposalDoesNotHang) {
  JackCallbackGate gate;
  std::thread backend([&] {
    gate.run(7, [] { throw std::runtime_error("callback failed"); });
    gate.run(7, [] { throw 42; });
  });
  backend.join();
  EXPECT_EQ(gate.thrownCount(), 2u);
  gate.waitUntilIdle(7);  // returns: both callbacks left the gate
}

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
