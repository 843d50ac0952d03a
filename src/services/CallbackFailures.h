#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <set>

#include "services/MIDITypes.h"

namespace wex {

// What a backend does with an exception that a client's callback throws: it
// stops at the backend's thread, which must live on (and a client's disposal
// must not wait for a callback that never returns). The first of each client
// is logged, every one is counted.
class CallbackFailures {
 public:
  void noteThrown(MIDIClientRef client, const std::exception_ptr& error);
  uint64_t count() const { return count_.load(); }

  // Runs `callback`; what it throws is noted here.
  template <typename Callback>
  void guard(MIDIClientRef client, Callback&& callback) {
    try {
      callback();
    } catch (...) {
      noteThrown(client, std::current_exception());
    }
  }

 private:
  std::mutex mutex_;
  std::set<MIDIClientRef> logged_;
  std::atomic<uint64_t> count_{0};
};

}  // namespace wex
