#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace wex {

// The thread that ticks a running composition: at a set rate, and as soon as
// a tick is requested, at most once per kMinimumRequestInterval.
class EvaluationThread {
 public:
  // Ticks requested come at most this often.
  static constexpr std::chrono::microseconds kMinimumRequestInterval{1000};

  // `tick` runs on the thread with the time since start (seconds).
  explicit EvaluationThread(std::function<void(double time)> tick);
  ~EvaluationThread();
  EvaluationThread(const EvaluationThread&) = delete;
  EvaluationThread& operator=(const EvaluationThread&) = delete;

  // Ticks `rate` times a second (60 when the rate is not positive).
  void start(double rate);
  // Ends the thread after the tick in progress. On the main thread it keeps
  // running main-thread tasks while it waits, since a tick may wait for one.
  void stop();
  // A tick as soon as allowed (any thread).
  void request();

 private:
  void loop(double rate);

  std::function<void(double)> tick_;
  std::mutex wakeMutex_;
  std::condition_variable wake_;
  std::atomic<bool> requested_{false};  // set without the lock, cleared under it
  bool stopping_ = false;               // under wakeMutex_
  std::atomic<bool> loopFinished_{true};
  std::thread thread_;
};

}  // namespace wex
