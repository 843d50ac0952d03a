#include <sched.h>
#include <unistd.h>

#include <filesystem>
#include <future>
#include <thread>

#include "jack/JackServicesFixture.h"
#include "support/RealtimeThreads.h"

namespace wex::test {
namespace {

struct ThreadPlacement {
  pid_t id;
  bool realtime;
  cpu_set_t cpus;
};

std::vector<ThreadPlacement> threadsOfThisProcess() {
  std::vector<ThreadPlacement> threads;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    ThreadPlacement thread{static_cast<pid_t>(std::stoi(entry.path().filename())), false, {}};
    const int policy = sched_getscheduler(thread.id) & ~SCHED_RESET_ON_FORK;
    if (policy < 0 || sched_getaffinity(thread.id, sizeof thread.cpus, &thread.cpus) != 0) continue;
    thread.realtime = policy == SCHED_FIFO || policy == SCHED_RR;
    threads.push_back(thread);
  }
  return threads;
}

ThreadPlacement placementOf(pid_t id) {
  for (const auto& thread : threadsOfThisProcess()) {
    if (thread.id == id) return thread;
  }
  return {id, false, {}};
}

// A thread enrolled as the host's evaluation thread, idle until destroyed.
class EvaluationStandIn {
 public:
  EvaluationStandIn() : thread_([this] { run(); }) { id_ = started_.get_future().get(); }
  ~EvaluationStandIn() {
    finish_.set_value();
    thread_.join();
  }
  pid_t id() const { return id_; }

 private:
  void run() {
    RealtimeThreads::Enrollment enrollment(RealtimeThreads::Role::evaluation);
    started_.set_value(gettid());
    finish_.get_future().wait();
  }

  std::promise<pid_t> started_;
  std::promise<void> finish_;
  std::thread thread_;
  pid_t id_ = 0;
};

// A message read in one cycle passes the process thread, the reader and the
// evaluation thread before the next: on a realtime server they are kept on
// one CPU, and the threads of the host are let go when the services close.
TEST(JackOwnServerRealtime, ProcessReaderAndEvaluationThreadsRunOnOneCpuUntilTheServicesClose) {
  if (!ownJackServersAllowed()) GTEST_SKIP() << kOwnJackServersSkipReason;
  const std::string serverName = uniqueName("wexrealtime");
  ScopedServerName useServer(serverName);
  auto server = startJackServer(serverName, true);
  ASSERT_TRUE(jackServerUp()) << server->output();
  const ThreadPlacement before = placementOf(gettid());
  EvaluationStandIn evaluation;
  std::string error;
  auto services = JackMIDIServices::open(uniqueName("wexrealtime"), &error);
  ASSERT_TRUE(services) << error;
  if (RealtimeThreads::raisedCount() == 0) {
    GTEST_SKIP() << "the server does not run realtime, or realtime scheduling is not granted here";
  }
  ASSERT_TRUE(waitUntil([] { return RealtimeThreads::raisedCount() == 2; }))
      << "the reader and the evaluation thread are raised";

  std::vector<ThreadPlacement> realtime;
  for (const auto& thread : threadsOfThisProcess()) {
    if (thread.realtime) realtime.push_back(thread);
  }
  ASSERT_GE(realtime.size(), 3u) << "JACK's process thread, the reader and the evaluation thread";
  for (const auto& thread : realtime) {
    EXPECT_EQ(CPU_COUNT(&thread.cpus), 1) << "thread " << thread.id;
    EXPECT_TRUE(CPU_EQUAL(&thread.cpus, &realtime.front().cpus)) << "thread " << thread.id;
  }

  services.reset();
  const ThreadPlacement after = placementOf(evaluation.id());
  EXPECT_FALSE(after.realtime);
  EXPECT_TRUE(CPU_EQUAL(&after.cpus, &before.cpus)) << "the CPUs it had before";
}

}  // namespace
}  // namespace wex::test
