#include "host/EvaluationThread.h"

#include <algorithm>

#include "support/MainThread.h"
#include "support/RealtimeThreads.h"

namespace wex {

EvaluationThread::EvaluationThread(std::function<void(double time)> tick)
    : tick_(std::move(tick)) {}

EvaluationThread::~EvaluationThread() {
  stop();
}

void EvaluationThread::start(double rate) {
  if (thread_.joinable()) return;
  {
    std::lock_guard lock(wakeMutex_);
    stopping_ = false;
  }
  loopFinished_ = false;
  thread_ = std::thread([this, rate] { loop(rate); });
}

void EvaluationThread::stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(wakeMutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  // The main thread never blocks on the evaluation thread: it keeps serving
  // its queue (a patch may be waiting for it) until the loop has ended.
  if (isMainThread()) {
    while (!loopFinished_.load()) MainThread::runPendingTasks(std::chrono::milliseconds(5));
  }
  thread_.join();
}

// A request while one is pending costs one atomic exchange: no lock, no
// wake-up. The first one takes the lock once before waking the thread, so
// that the wake-up cannot fall between the thread's check of the flag and its
// sleep.
void EvaluationThread::request() {
  if (requested_.exchange(true)) return;
  { std::lock_guard lock(wakeMutex_); }
  wake_.notify_one();
}

void EvaluationThread::loop(double rate) {
  RealtimeThreads::Enrollment enrollment(RealtimeThreads::Role::evaluation);
  using Clock = std::chrono::steady_clock;
  const auto period = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(1.0 / (rate > 0.0 ? rate : 60.0)));
  const auto begin = Clock::now();
  auto next = begin;
  auto earliestRequested = begin;
  while (true) {
    bool wasRequested = false;
    {
      std::unique_lock lock(wakeMutex_);
      wake_.wait_until(lock, next, [this] { return stopping_ || requested_.load(); });
      // Requests that come faster than kMinimumRequestInterval are taken
      // together: a stream of MIDI (or a loop of it) never makes more ticks
      // than that, whatever the rate.
      if (!stopping_ && requested_.load() && Clock::now() < earliestRequested) {
        wake_.wait_until(lock, std::min(earliestRequested, next), [this] { return stopping_; });
      }
      if (stopping_) break;
      wasRequested = requested_.exchange(false);
    }
    const auto now = Clock::now();
    tick_(std::chrono::duration<double>(now - begin).count());
    // Only requested ticks count: a message that comes just after a
    // scheduled tick is not held back (at a JACK period of 64 frames, the
    // wait took most of the time left before the next cycle).
    if (wasRequested) earliestRequested = now + kMinimumRequestInterval;
    if (next <= now) next = now + period;
  }
  loopFinished_ = true;
}

}  // namespace wex
