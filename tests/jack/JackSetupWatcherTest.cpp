#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "jack/ChildProcess.h"
#include "services/jack/JackSetupWatcher.h"

namespace wex::test {
namespace {

// An owner whose connections are refused at the first listing only, with
// nothing in the graph changing after that.
struct RefusingOwner : JackSetupWatcher::Owner {
  std::atomic<int> listings{0};
  void serverLost() override {}
  bool reconnect() override { return true; }
  void setupMayHaveChanged() override { listings++; }
  bool linksPending() override { return listings == 1; }
  void reportDrops() override {}
};

TEST(JackSetupWatcher, ARefusedConnectionIsTriedAgainWithoutAChangeOfTheGraph) {
  RefusingOwner owner;
  JackSetupWatcher watcher(owner);
  watcher.start();
  watcher.markDirty();
  EXPECT_TRUE(waitUntil([&] { return owner.listings >= 2; }, std::chrono::seconds(30)));
  // Past the watcher's idle wake: no listing more once every connection is made.
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  watcher.stop();
  EXPECT_EQ(owner.listings, 2);
}

}  // namespace
}  // namespace wex::test
