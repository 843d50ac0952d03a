#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "services/MIDITypes.h"

namespace wex {

// Keeps track of the clients' callbacks that are running, so that disposing
// of a client can wait until none of its callbacks runs any more.
class JackCallbackGate {
 public:
  void enter(MIDIClientRef client);
  void leave(MIDIClientRef client);

  // Returns once no callback of the client runs on another thread. A
  // callback of the client running on the calling thread (a client disposed
  // of from inside its own callback) is not waited for.
  void waitUntilIdle(MIDIClientRef client);

  // Runs `callback` between enter and leave. An exception the callback
  // throws stops here: it would end the backend's thread, and a client's
  // disposal would wait for a callback that never leaves. The first one of
  // each client is logged, every one is counted.
  template <typename Callback>
  void run(MIDIClientRef client, Callback&& callback) {
    enter(client);
    try {
      callback();
    } catch (...) {
      noteThrown(client, std::current_exception());
    }
    leave(client);
  }

  // How many callbacks have thrown.
  uint64_t thrownCount() const { return thrown_.load(); }

 private:
  bool busyElsewhere(MIDIClientRef client) const;
  void noteThrown(MIDIClientRef client, const std::exception_ptr& error);

  std::mutex mutex_;
  std::condition_variable idle_;
  std::vector<std::pair<MIDIClientRef, std::thread::id>> running_;
  std::set<MIDIClientRef> loggedThrowers_;
  std::atomic<uint64_t> thrown_{0};
};

}  // namespace wex
