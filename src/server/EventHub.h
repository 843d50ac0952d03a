#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/EventQueue.h"

namespace wex {

// The clients of the event stream, each with its own bounded queue; what is
// published goes to every queue. Safe from any thread; never waits for a
// client.
class EventHub {
 public:
  using Json = ValueJSON::Json;

  static constexpr size_t kQueueCapacity = 512;

  // Null when `limit` clients are connected already, or after closeAll.
  std::shared_ptr<EventQueue> subscribe(size_t limit);
  void unsubscribe(const std::shared_ptr<EventQueue>& queue);
  size_t clientCount() const;

  void publishValue(const std::string& port, const Json& value);
  void publishEvent(const std::string& name, const Json& data);
  // Ends every stream and takes no new ones.
  void closeAll();

 private:
  std::vector<std::shared_ptr<EventQueue>> clients() const;

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<EventQueue>> queues_;
  bool closed_ = false;
};

}  // namespace wex
