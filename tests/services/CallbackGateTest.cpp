#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "services/CallbackGate.h"

namespace wex::test {
namespace {

TEST(CallbackGate, AThrowingCallbackIsCountedAndLeavesTheGateSoDisposalDoesNotHang) {
  CallbackGate gate;
  std::thread backend([&] {
    gate.run(7, [] { throw std::runtime_error("callback failed"); });
    gate.run(7, [] { throw 42; });
  });
  backend.join();
  EXPECT_EQ(gate.thrownCount(), 2u);
  gate.waitUntilIdle(7);  // returns: both callbacks left the gate
}

}  // namespace
}  // namespace wex::test
