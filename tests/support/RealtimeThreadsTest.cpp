#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "support/RealtimeThreads.h"
#include "support/SystemLog.h"

namespace wex {
namespace {

using Role = RealtimeThreads::Role;

// A scheduler that records what it was asked and grants or refuses raising.
struct FakeScheduler {
  std::mutex mutex;
  std::vector<std::pair<Role, bool>> calls;
  bool grant = true;

  RealtimeThreads::Scheduler function() {
    return [this](pthread_t, Role role, bool realtime) {
      std::lock_guard lock(mutex);
      calls.emplace_back(role, realtime);
      return !realtime || grant;
    };
  }
};

// Runs `body` on a thread enrolled with `role`, while the thread is enrolled.
template <typename Body>
void onEnrolledThread(Role role, Body body) {
  std::thread thread([&] {
    RealtimeThreads::Enrollment enrollment(role);
    body();
  });
  thread.join();
}

TEST(RealtimeThreads, ThreadsEnrolledBeforeAndAfterTheSchedulerAreRaisedAndThenLowered) {
  FakeScheduler scheduler;
  const int owner = 0;
  RealtimeThreads::Enrollment reader(Role::reader);
  RealtimeThreads::install(&owner, scheduler.function());
  EXPECT_EQ(RealtimeThreads::raisedCount(), 1);
  onEnrolledThread(Role::evaluation, [] { EXPECT_EQ(RealtimeThreads::raisedCount(), 2); });
  // The thread that ended is no longer counted nor lowered.
  EXPECT_EQ(RealtimeThreads::raisedCount(), 1);

  const int stranger = 0;
  RealtimeThreads::withdraw(&stranger);
  EXPECT_EQ(RealtimeThreads::raisedCount(), 1) << "only the owner withdraws its scheduler";
  RealtimeThreads::withdraw(&owner);
  EXPECT_EQ(RealtimeThreads::raisedCount(), 0);
  onEnrolledThread(Role::evaluation, [] { EXPECT_EQ(RealtimeThreads::raisedCount(), 0); });

  const std::vector<std::pair<Role, bool>> expected{
      {Role::reader, true}, {Role::evaluation, true}, {Role::reader, false}};
  EXPECT_EQ(scheduler.calls, expected);
}

TEST(RealtimeThreads, RefusalLeavesThreadsOrdinaryAndIsLoggedOnceForTheProcess) {
  SystemLog::Capture capture;
  FakeScheduler scheduler;
  scheduler.grant = false;
  const int owner = 0;
  RealtimeThreads::Enrollment reader(Role::reader);
  RealtimeThreads::install(&owner, scheduler.function());
  onEnrolledThread(Role::evaluation, [] { EXPECT_EQ(RealtimeThreads::raisedCount(), 0); });
  RealtimeThreads::install(&owner, scheduler.function());
  RealtimeThreads::withdraw(&owner);

  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_NE(capture.lines()[0].find("realtime scheduling refused"), std::string::npos);
  for (const auto& [role, realtime] : scheduler.calls) EXPECT_TRUE(realtime) << "nothing to lower";
}

}  // namespace
}  // namespace wex
