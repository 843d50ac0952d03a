#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "services/CallbackFailures.h"
#include "services/MIDITypes.h"

namespace wex {

// A thread of the embedded MIDI services that runs callbacks one at a time, in
// the order they were posted. Each callback belongs to a client (0 for none),
// so that disposing of a client can drop its pending callbacks and wait for
// the one that may be running.
class EmbeddedCallbackQueue {
 public:
  EmbeddedCallbackQueue();
  ~EmbeddedCallbackQueue();
  EmbeddedCallbackQueue(const EmbeddedCallbackQueue&) = delete;
  EmbeddedCallbackQueue& operator=(const EmbeddedCallbackQueue&) = delete;

  // Ends the thread after the task it may be running; what is queued, or
  // posted later, never runs.
  void stop();

  // Queues the task; returns its sequence number.
  uint64_t post(MIDIClientRef client, std::function<void()> task);

  // Drops the client's queued tasks and, unless called from this queue's own
  // thread, waits until none of its tasks runs any more.
  void forgetClient(MIDIClientRef client);

  // Waits until every task posted before the call has run (or been dropped);
  // false on timeout. From the queue's own thread it cannot wait and only
  // reports whether nothing else is queued.
  bool waitUntilIdle(double timeoutSeconds);

  bool isQueueThread() const { return std::this_thread::get_id() == thread_.get_id(); }

  // How many tasks have thrown (a task's exception ends at the queue).
  uint64_t thrownCount() const { return failures_.count(); }

 private:
  struct Task {
    uint64_t sequence;
    MIDIClientRef client;
    std::function<void()> run;
  };

  void loop();
  bool passedLocked(uint64_t sequence) const;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable progress_;
  std::deque<Task> tasks_;
  uint64_t lastSequence_ = 0;
  uint64_t runningSequence_ = 0;  // 0 while nothing runs
  MIDIClientRef runningClient_ = 0;
  bool stopping_ = false;
  CallbackFailures failures_;
  std::thread thread_;
};

}  // namespace wex
