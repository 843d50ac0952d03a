#pragma once

#include <atomic>
#include <thread>

#include "services/jack/JackWakeSignal.h"

namespace wex {

// The thread of ours that follows the JACK graph. The JACK callbacks only
// mark the setup dirty or the server lost (no lock, no allocation); this
// thread then has the owner rebuild its endpoint list and notify, or go
// offline and try to reconnect until a server is back.
class JackSetupWatcher {
 public:
  class Owner {
   public:
    virtual ~Owner() = default;
    // The server went away: close the dead connection, go offline.
    virtual void serverLost() = 0;
    // Tries to reach a server again; true once connected.
    virtual bool reconnect() = 0;
    // Rebuild the endpoint list and notify the clients if it changed.
    virtual void setupMayHaveChanged() = 0;
    // Whether a connection to a listed peer could not be made: the server
    // refused it (a busy or starting server, a peer not active yet), and no
    // change of the graph may come to make us try again; or a private port's
    // mark was refused (a metadata store not back yet).
    virtual bool linksPending() = 0;
    // Called about once a second.
    virtual void reportDrops() = 0;
  };

  explicit JackSetupWatcher(Owner& owner);
  ~JackSetupWatcher();
  JackSetupWatcher(const JackSetupWatcher&) = delete;
  JackSetupWatcher& operator=(const JackSetupWatcher&) = delete;

  void start();
  void stop();

  // Safe from JACK's callbacks.
  void markDirty();
  void markServerLost();

 private:
  void run();

  Owner& owner_;
  JackWakeSignal signal_;
  std::atomic<bool> dirty_{false};
  std::atomic<bool> serverLost_{false};
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace wex
