#pragma once

#include <chrono>
#include <functional>

namespace wex {

// The main thread: one designated thread with a queue of tasks. Panels and
// every rebuild of an endpoint list run there.
//
// A program designates its own main thread with designateCurrentThread() and
// then keeps running the queue (runPendingTasks / runFor). A library user that
// designates none gets a dispatcher thread of its own on first use.
class MainThread {
 public:
  // The calling thread becomes the main thread. Call before any other use.
  static void designateCurrentThread();

  static bool isMainThread();

  // Runs the task at once when called on the main thread; otherwise queues it
  // there and blocks until it has run. An exception thrown by the task is
  // rethrown in the caller.
  static void performOnMainThreadAndWait(const std::function<void()>& task);

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
