#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "services/MIDITypes.h"

namespace wex {

// Keeps track of the clients' callbacks that are running, so that disposing
// of a client can wait until none of its callbacks runs any more.
class AlsaCallbackGate {
 public:
  void enter(MIDIClientRef client);
  void leave(MIDIClientRef client);

  // Returns once no callback of the client runs on another thread. A
  // callback of the client running on the calling thread (a client disposed
  // of from inside its own callback) is not waited for.
  void waitUntilIdle(MIDIClientRef client);

  // Runs `callback` between enter and leave.
  template <typename Callback>
  void run(MIDIClientRef client, Callback&& callback) {
    enter(client);
    callback();
    leave(client);
  }

 private:
  bool busyElsewhere(MIDIClientRef client) const;

  std::mutex mutex_;
  std::condition_variable idle_;
  std::vector<std::pair<MIDIClientRef, std::thread::id>> running_;
};

}  // namespace wex
