#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "support/MainThread.h"
#include "support/MutLockArray.h"
#include "support/SystemLog.h"

namespace wex {
namespace {

TEST(MainThread, TaskFromAnotherThreadRunsOnTheMainThreadBeforeTheCallReturns) {
  std::atomic<bool> ranOnMain{false};
  std::thread caller([&] {
    EXPECT_FALSE(isMainThread());
    performOnMainThreadAndWait([&] { ranOnMain = isMainThread(); });
    EXPECT_TRUE(ranOnMain);
  });
  caller.join();
}

TEST(MainThread, CallOnTheMainThreadRunsDirectlyWithoutDeadlock) {
  int depth = 0;
  performOnMainThreadAndWait([&] { performOnMainThreadAndWait([&] { depth = 2; }); });
  EXPECT_EQ(depth, 2);
}

TEST(MainThread, ExceptionOfTheTaskReachesTheCaller) {
  EXPECT_THROW(performOnMainThreadAndWait([] { throw std::runtime_error("no"); }),
               std::runtime_error);
}

TEST(SystemLog, CaptureCollectsLinesExactlyAndNests) {
  SystemLog::Capture outer;
  SystemLog::writef("\t\terror %ld at %s A", 5L, "MIDIClientCreate()");
  {
    SystemLog::Capture inner;
    SystemLog::write("inner");
    EXPECT_EQ(inner.lines(), std::vector<std::string>{"inner"});
  }
  SystemLog::write("after");
  EXPECT_EQ(outer.lines(),
            (std::vector<std::string>{"\t\terror 5 at MIDIClientCreate() A", "after"}));
}

struct Counter {
  int total = 0;
  void add(const int& n) { total += n; }
};

TEST(MutLockArray, IndexOutsideTheListGivesNothingAndRemoveEmptiesIt) {
  MutLockArray<Counter> list;
  list.lockAddObject(std::make_shared<Counter>());
  list.lockAddObject(std::make_shared<Counter>());
  EXPECT_EQ(list.count(), 2u);
  EXPECT_NE(list.lockObjectAtIndex(1), nullptr);
  EXPECT_EQ(list.lockObjectAtIndex(2), nullptr);
  list.lockMakeObjectsPerformSelector(&Counter::add, 3);
  EXPECT_EQ(list.lockObjectAtIndex(0)->total, 3);
  EXPECT_EQ(list.lockObjectAtIndex(1)->total, 3);
  list.lockRemoveAllObjects();
  EXPECT_EQ(list.count(), 0u);
}

}  // namespace
}  // namespace wex
