#include "services/embedded/EmbeddedCallbackQueue.h"

#include <chrono>

namespace wex {

EmbeddedCallbackQueue::EmbeddedCallbackQueue() : thread_([this] { loop(); }) {}

EmbeddedCallbackQueue::~EmbeddedCallbackQueue() {
  stop();
}

void EmbeddedCallbackQueue::stop() {
  std::deque<Task> dropped;  // destroyed after the lock is let go
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    dropped.swap(tasks_);
  }
  wake_.notify_all();
  progress_.notify_all();
  if (thread_.joinable() && !isQueueThread()) thread_.join();
}

uint64_t EmbeddedCallbackQueue::post(MIDIClientRef client, std::function<void()> task) {
  uint64_t sequence;
  {
    std::lock_guard lock(mutex_);
    sequence = ++lastSequence_;
    if (stopping_) return sequence;
    tasks_.push_back(Task{sequence, client, std::move(task)});
  }
  wake_.notify_one();
  return sequence;
}

void EmbeddedCallbackQueue::forgetClient(MIDIClientRef client) {
  std::deque<Task> dropped;  // destroyed after the lock is let go
  std::unique_lock lock(mutex_);
  for (auto it = tasks_.begin(); it != tasks_.end();) {
    if (it->client == client) {
      dropped.push_back(std::move(*it));
      it = tasks_.erase(it);
    } else {
      ++it;
    }
  }
  progress_.notify_all();
  if (isQueueThread()) return;
  progress_.wait(lock, [&] { return runningSequence_ == 0 || runningClient_ != client; });
}

bool EmbeddedCallbackQueue::passedLocked(uint64_t sequence) const {
  const bool queuedPassed = tasks_.empty() || tasks_.front().sequence > sequence;
  const bool runningPassed = runningSequence_ == 0 || runningSequence_ > sequence;
  return queuedPassed && runningPassed;
}

bool EmbeddedCallbackQueue::waitUntilIdle(double timeoutSeconds) {
  std::unique_lock lock(mutex_);
  if (isQueueThread()) return tasks_.empty();
  const uint64_t target = lastSequence_;
  const auto timeout = std::chrono::duration<double>(timeoutSeconds < 0 ? 0 : timeoutSeconds);
  return progress_.wait_for(lock, timeout, [&] { return stopping_ || passedLocked(target); });
}

void EmbeddedCallbackQueue::loop() {
  std::unique_lock lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
    if (stopping_) return;
    Task task = std::move(tasks_.front());
    tasks_.pop_front();
    runningSequence_ = task.sequence;
    runningClient_ = task.client;
    lock.unlock();
    failures_.guard(task.client, task.run);
    task.run = nullptr;  // release what the task held before reporting progress
    lock.lock();
    runningSequence_ = 0;
    runningClient_ = 0;
    progress_.notify_all();
  }
}

}  // namespace wex
