#include "support/MainThread.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace wex {

namespace {

class TaskQueue {
 public:
  ~TaskQueue() { stopDispatcher(); }

  void designate(std::thread::id id) {
    std::lock_guard lock(mutex_);
    mainId_ = id;
    designated_ = true;
  }

  bool isMain() {
    std::lock_guard lock(mutex_);
    return designated_ && mainId_ == std::this_thread::get_id();
  }

  void post(std::function<void()> task) {
    {
      std::lock_guard lock(mutex_);
      ensureMainThreadLocked();
      tasks_.push_back(std::move(task));
    }
    wake_.notify_all();
  }

  int runPending(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (tasks_.empty() && timeout.count() > 0) {
      wake_.wait_for(lock, timeout, [this] { return !tasks_.empty(); });
    }
    int run = 0;
    while (!tasks_.empty()) {
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      ++run;
      lock.lock();
    }
    return run;
  }

 private:
  // With no designated main thread, the first use starts a dispatcher thread.
  void ensureMainThreadLocked() {
    if (designated_) return;
    designated_ = true;
    dispatcher_ = std::thread([this] { dispatchLoop(); });
    mainId_ = dispatcher_.get_id();
  }

  void dispatchLoop() {
    std::unique_lock lock(mutex_);
    while (true) {
      wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
      if (tasks_.empty() && stopping_) return;
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
    }
  }

  void stopDispatcher() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (dispatcher_.joinable()) dispatcher_.join();
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  std::thread::id mainId_;
  bool designated_ = false;
  bool stopping_ = false;
  std::thread dispatcher_;
};

TaskQueue& queue() {
  static TaskQueue instance;
  return instance;
}

}  // namespace

void MainThread::designateCurrentThread() {
  queue().designate(std::this_thread::get_id());
}

bool MainThread::isMainThread() {
  return queue().isMain();
}

void MainThread::performOnMainThreadAndWait(const std::function<void()>& task) {
  if (isMainThread()) {
    task();
    return;
  }
  std::mutex doneMutex;
  std::condition_variable doneSignal;
  bool done = false;
  std::exception_ptr failure;
  queue().post([&] {
    try {
      task();
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard lock(doneMutex);
    done = true;
    doneSignal.notify_all();
  });
  std::unique_lock lock(doneMutex);
  doneSignal.wait(lock, [&] { return done; });
  if (failure) std::rethrow_exception(failure);
}

void MainThread::Cancellation::cancel() {
  {
    std::lock_guard lock(mutex_);
    cancelled_ = true;
  }
  changed_.notify_all();
}

bool MainThread::Cancellation::cancelled() {
  std::lock_guard lock(mutex_);
  return cancelled_;
}

// The queued task outlives a caller that stopped waiting: what it shares with
// the caller is owned by both.
bool MainThread::performOnMainThreadAndWait(const std::function<void()>& task,
                                            const std::shared_ptr<Cancellation>& cancellation) {
  if (isMainThread()) {
    if (cancellation->cancelled()) return false;
    task();
    return true;
  }
  struct Outcome {
    bool done = false;  // guarded by the cancellation's mutex, as are the fields below
    bool ran = false;
    std::exception_ptr failure;
  };
  auto outcome = std::make_shared<Outcome>();
  queue().post([task, cancellation, outcome] {
    bool ran = false;
    std::exception_ptr failure;
    if (!cancellation->cancelled()) {
      ran = true;
      try {
        task();
      } catch (...) {
        failure = std::current_exception();
      }
    }
    {
      std::lock_guard lock(cancellation->mutex_);
      outcome->done = true;
      outcome->ran = ran;
      outcome->failure = failure;
    }
    cancellation->changed_.notify_all();
  });
  std::unique_lock lock(cancellation->mutex_);
  cancellation->changed_.wait(lock, [&] { return outcome->done || cancellation->cancelled_; });
  if (!outcome->done) return false;
  if (outcome->failure) std::rethrow_exception(outcome->failure);
  return outcome->ran;
}

void MainThread::post(std::function<void()> task) {
  queue().post(std::move(task));
}

int MainThread::runPendingTasks(std::chrono::milliseconds timeout) {
  return queue().runPending(timeout);
}

}  // namespace wex
