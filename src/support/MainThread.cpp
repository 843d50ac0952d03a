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

void MainThread::post(std::function<void()> task) {
  queue().post(std::move(task));
}

int MainThread::runPendingTasks(std::chrono::milliseconds timeout) {
  return queue().runPending(timeout);
}

}  // namespace wex
