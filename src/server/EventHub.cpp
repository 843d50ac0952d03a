#include "server/EventHub.h"

#include <algorithm>

namespace wex {

std::shared_ptr<EventQueue> EventHub::subscribe(size_t limit) {
  std::lock_guard lock(mutex_);
  if (closed_ || queues_.size() >= limit) return nullptr;
  queues_.push_back(std::make_shared<EventQueue>(kQueueCapacity));
  return queues_.back();
}

void EventHub::unsubscribe(const std::shared_ptr<EventQueue>& queue) {
  queue->close();
  std::lock_guard lock(mutex_);
  std::erase(queues_, queue);
}

size_t EventHub::clientCount() const {
  std::lock_guard lock(mutex_);
  return queues_.size();
}

std::vector<std::shared_ptr<EventQueue>> EventHub::clients() const {
  std::lock_guard lock(mutex_);
  return queues_;
}

void EventHub::publishValue(const std::string& port, const Json& value) {
  for (const auto& queue : clients()) queue->putValue(port, value);
}

void EventHub::publishEvent(const std::string& name, const Json& data) {
  const auto queues = clients();
  if (queues.empty()) return;
  const std::string text = data.dump();
  for (const auto& queue : queues) queue->putEventText(name, text);
}

void EventHub::closeAll() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  for (const auto& queue : clients()) queue->close();
}

}  // namespace wex
