#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "host/ValueJSON.h"

namespace wex {

// The events waiting for one client of the event stream. Putting never
// blocks for longer than a short lock: port values are coalesced (the latest
// value of a port replaces one not yet taken), and when the queue of other
// events is full the oldest is dropped and counted. Safe from any thread.
class EventQueue {
 public:
  using Json = ValueJSON::Json;

  explicit EventQueue(size_t capacity) : capacity_(capacity) {}

  void putValue(const std::string& port, const Json& value);
  void putEvent(const std::string& name, const Json& data);
  // An event whose data is JSON text already (written once for every client).
  void putEventText(const std::string& name, std::string data);

  // Waits up to `timeout` for events and returns them as Server-Sent Events
  // text: the events in order, then one "values" event with the latest value
  // of each port that changed, then a "dropped" event counting what was lost.
  // Empty when nothing came or the queue is closed.
  std::string take(std::chrono::milliseconds timeout);
  void close();
  bool closed() const;
  uint64_t droppedCount() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  const size_t capacity_;
  std::deque<std::pair<std::string, std::string>> events_;  // name, data text
  std::map<std::string, Json> values_;                      // by "id.port"
  uint64_t dropped_ = 0;                                    // since the last report
  uint64_t droppedTotal_ = 0;
  bool closed_ = false;
};

}  // namespace wex
