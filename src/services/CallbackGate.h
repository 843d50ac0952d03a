#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "services/CallbackFailures.h"
#include "services/MIDITypes.h"

namespace wex {

// Keeps track of the clients' callbacks that are running, so that disposing
// of a client can wait until none of its callbacks runs any more.
class CallbackGate {
 public:
  void enter(MIDIClientRef client);
  void leave(MIDIClientRef client);

  // Returns once no callback of the client runs on another thread. A
  // callback of the client running on the calling thread (a client disposed
  // of from inside its own callback) is not waited for.
  void waitUntilIdle(MIDIClientRef client);

  // Runs `callback` between enter and leave. What it throws stops here, so
  // that the callback always leaves (CallbackFailures).
  template <typename Callback>
  void run(MIDIClientRef client, Callback&& callback) {
    enter(client);
    failures_.guard(client, callback);
    leave(client);
  }

  // How many callbacks have thrown.
  uint64_t thrownCount() const { return failures_.count(); }

 private:
  bool busyElsewhere(MIDIClientRef client) const;

  std::mutex mutex_;
  std::condition_variable idle_;
  std::vector<std::pair<MIDIClientRef, std::thread::id>> running_;
  CallbackFailures failures_;
};

}  // namespace wex
