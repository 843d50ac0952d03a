#include "services/jack/JackCallbackGate.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "support/SystemLog.h"

namespace wex {

void JackCallbackGate::enter(MIDIClientRef client) {
  std::lock_guard lock(mutex_);
  running_.emplace_back(client, std::this_thread::get_id());
}

void JackCallbackGate::leave(MIDIClientRef client) {
  {
    std::lock_guard lock(mutex_);
    const auto entry = std::make_pair(client, std::this_thread::get_id());
    auto found = std::find(running_.begin(), running_.end(), entry);
    if (found != running_.end()) running_.erase(found);
  }
  idle_.notify_all();
}

bool JackCallbackGate::busyElsewhere(MIDIClientRef client) const {
  const auto self = std::this_thread::get_id();
  return std::any_of(running_.begin(), running_.end(), [&](const auto& entry) {
    return entry.first == client && entry.second != self;
  });
}

void JackCallbackGate::noteThrown(MIDIClientRef client, const std::exception_ptr& error) {
  thrown_.fetch_add(1);
  {
    std::lock_guard lock(mutex_);
    if (!loggedThrowers_.insert(client).second) return;
  }
  std::string what = "an exception of unknown type";
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& exception) {
    what = exception.what();
  } catch (...) {
  }
  SystemLog::writef("\tA MIDI callback of client %u threw (%s); later throws are only counted",
                    static_cast<unsigned>(client), what.c_str());
}

void JackCallbackGate::waitUntilIdle(MIDIClientRef client) {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [&] { return !busyElsewhere(client); });
}

}  // namespace wex
