#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace wex {

// The main thread: one designated thread with a queue of tasks. Panels and
// every rebuild of an endpoint list run there.
//
// A program designates its own main thread with designateCurrentThread() and
// then keeps running the queue (runPendingTasks / runFor). A library user that
// designates none gets a dispatcher thread of its own on first use.
class MainThread {
 public:
  // Calls off the waits made with it: an object that the main thread may
  // tear down while other threads wait for tasks of its on the main thread
  // cancels them first, so that none of those threads waits for a main
  // thread that is busy waiting for them.
  class Cancellation {
   public:
    // From now on, waits return at once and their tasks do not run.
    void cancel();
    bool cancelled();

   private:
    friend class MainThread;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool cancelled_ = false;  // guarded by mutex_
  };

  // The calling thread becomes the main thread. Call before any other use.
  static void designateCurrentThread();

  static bool isMainThread();

  // Runs the task at once when called on the main thread; otherwise queues it
  // there and blocks until it has run. An exception thrown by the task is
  // rethrown in the caller.
  static void performOnMainThreadAndWait(const std::function<void()>& task);

  // The same, unless `cancellation` is cancelled before the task begins: then
  // the task never runs and the caller returns at once. True when it ran.
  static bool performOnMainThreadAndWait(const std::function<void()>& task,
                                         const std::shared_ptr<Cancellation>& cancellation);

  // Queues the task on the main thread and returns at once.
  static void post(std::function<void()> task);

  // On a designated main thread: run what is queued, waiting at most `timeout`
  // for the first task. Returns the number of tasks run.
  static int runPendingTasks(std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
};

inline bool isMainThread() {
  return MainThread::isMainThread();
}
inline void performOnMainThreadAndWait(const std::function<void()>& task) {
  MainThread::performOnMainThreadAndWait(task);
}

}  // namespace wex
