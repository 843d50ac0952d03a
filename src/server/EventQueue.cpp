#include "server/EventQueue.h"

namespace wex {

namespace {

void appendEvent(std::string& out, const std::string& name, const std::string& data) {
  out += "event: ";
  out += name;
  out += "\ndata: ";
  out += data;
  out += "\n\n";
}

}  // namespace

void EventQueue::putValue(const std::string& port, const Json& value) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    values_[port] = value;
  }
  ready_.notify_one();
}

void EventQueue::putEvent(const std::string& name, const Json& data) {
  putEventText(name, data.dump());
}

void EventQueue::putEventText(const std::string& name, std::string text) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    if (events_.size() >= capacity_) {
      events_.pop_front();
      ++dropped_;
      ++droppedTotal_;
    }
    events_.emplace_back(name, std::move(text));
  }
  ready_.notify_one();
}

std::string EventQueue::take(std::chrono::milliseconds timeout) {
  std::deque<std::pair<std::string, std::string>> events;
  std::map<std::string, Json> values;
  uint64_t dropped = 0;
  {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, timeout,
                    [this] { return closed_ || !events_.empty() || !values_.empty(); });
    if (closed_) return {};
    events.swap(events_);
    values.swap(values_);
    dropped = dropped_;
    dropped_ = 0;
  }
  std::string out;
  for (const auto& [name, data] : events) appendEvent(out, name, data);
  if (!values.empty()) {
    Json batch = Json::object();
    for (auto& [port, value] : values) batch[port] = std::move(value);
    appendEvent(out, "values", batch.dump());
  }
  if (dropped) appendEvent(out, "dropped", Json{{"count", dropped}}.dump());
  return out;
}

void EventQueue::close() {
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
  }
  ready_.notify_all();
}

bool EventQueue::closed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

uint64_t EventQueue::droppedCount() const {
  std::lock_guard lock(mutex_);
  return droppedTotal_;
}

}  // namespace wex
