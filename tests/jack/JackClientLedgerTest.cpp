#include <sched.h>

#include "jack/JackServicesFixture.h"
#include "services/jack/JackClientLedger.h"

namespace wex::test {
namespace {

// PipeWire's JACK library leaves its thread functions dangling once the
// client opened last is closed, whichever others are still open.
TEST(JackClientLedger, ThreadFunctionsAreUsableOnlyWhileTheClientOpenedLastIsOpen) {
  jack_client_t* first = JackClientLedger::open(uniqueName("ledger"));
  ASSERT_TRUE(first);
  EXPECT_TRUE(JackClientLedger::threadFunctionsUsable());
  jack_client_t* second = JackClientLedger::open(uniqueName("ledger"));
  ASSERT_TRUE(second);
  JackClientLedger::close(first);
  EXPECT_TRUE(JackClientLedger::threadFunctionsUsable()) << "an older client closed";
  JackClientLedger::close(second);
  EXPECT_FALSE(JackClientLedger::threadFunctionsUsable()) << "the last one closed";

  // Without them a thread is raised and lowered all the same, where the
  // system grants realtime scheduling at all.
  const pthread_t self = pthread_self();
  if (!JackClientLedger::acquireRealtime(self, 1)) {
    GTEST_SKIP() << "realtime scheduling is not granted here";
  }
  EXPECT_EQ(sched_getscheduler(0) & ~SCHED_RESET_ON_FORK, SCHED_FIFO);
  EXPECT_TRUE(JackClientLedger::dropRealtime(self));
  EXPECT_EQ(sched_getscheduler(0) & ~SCHED_RESET_ON_FORK, SCHED_OTHER);
}

}  // namespace
}  // namespace wex::test
