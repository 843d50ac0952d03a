#pragma once

#include <semaphore.h>

#include <atomic>
#include <chrono>

namespace wex {

// Wakes one waiting thread of ours. notify() takes no lock and allocates
// nothing, so the JACK process and notification callbacks may call it.
class JackWakeSignal {
 public:
  JackWakeSignal();
  ~JackWakeSignal();
  JackWakeSignal(const JackWakeSignal&) = delete;
  JackWakeSignal& operator=(const JackWakeSignal&) = delete;

  void notify();
  // Waits for a notify() made since the previous wait, or for the timeout.
  // True when notified.
  bool wait(std::chrono::milliseconds timeout);

 private:
  sem_t semaphore_;
  std::atomic<bool> pending_{false};
};

}  // namespace wex
