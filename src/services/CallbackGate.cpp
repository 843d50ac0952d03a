#include "services/CallbackGate.h"

#include <algorithm>

namespace wex {

void CallbackGate::enter(MIDIClientRef client) {
  std::lock_guard lock(mutex_);
  running_.emplace_back(client, std::this_thread::get_id());
}

void CallbackGate::leave(MIDIClientRef client) {
  {
    std::lock_guard lock(mutex_);
    const auto entry = std::make_pair(client, std::this_thread::get_id());
    auto found = std::find(running_.begin(), running_.end(), entry);
    if (found != running_.end()) running_.erase(found);
  }
  idle_.notify_all();
}

bool CallbackGate::busyElsewhere(MIDIClientRef client) const {
  const auto self = std::this_thread::get_id();
  return std::any_of(running_.begin(), running_.end(), [&](const auto& entry) {
    return entry.first == client && entry.second != self;
  });
}

void CallbackGate::waitUntilIdle(MIDIClientRef client) {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] { return !busyElsewhere(client); });
}

}  // namespace wex
