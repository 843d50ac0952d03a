#pragma once

#include <lo/lo.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "host/Value.h"
#include "osc/OscStreamConnection.h"
#include "osc/OscTarget.h"

namespace wex {

// Sends changed port values as OSC from a thread of its own. Those who post
// changes (the evaluation thread) only take a short lock to queue them: they
// never wait for the network. The queue holds the latest value per address
// (a newer one replaces the older in place) and at most kMaxPendingAddresses
// addresses; changes to further addresses are dropped and counted. What one
// post brings goes out in one bundle with the post's time tag; posts that pile
// up while the thread sends go out together, with the latest time tag.
class OscSender {
 public:
  struct Change {
    std::string address;  // "/wexmidi/PATCH/PORT"
    Value value;
    bool carriesMessages = false;
  };

  static constexpr size_t kMaxPendingAddresses = 4096;
  // The largest bundle sent in one piece: a UDP datagram's payload, with room
  // to spare. Larger sets of changes go in several bundles with one time tag.
  static constexpr size_t kMaxBundleBytes = 60000;

  explicit OscSender(std::vector<OscTarget> targets);
  ~OscSender();
  OscSender(const OscSender&) = delete;
  OscSender& operator=(const OscSender&) = delete;

  // False, with the reason, when a target's address cannot be made.
  bool start(std::string* reason);
  // Any thread; takes the queue's lock only.
  void post(std::vector<Change> changes);
  // Sends what is still queued, then ends the thread.
  void stop();

  // Changes dropped because the queue was full.
  uint64_t dropped() const { return dropped_.load(); }
  // Messages that a target could not be sent (summed over the targets).
  uint64_t unsent() const { return unsent_.load(); }

 private:
  void run();
  void sendAll(const std::vector<Change>& changes, lo_timetag tag);
  void sendBundle(lo_bundle bundle);
  void logOnce(const std::string& line);

  const std::vector<OscTarget> targets_;
  // Sending thread, after start(), one of the two per target: liblo sends
  // datagrams; streams are written by a connection that gives up on a
  // receiver that stops reading.
  std::vector<lo_address> datagrams_;
  std::vector<std::unique_ptr<OscStreamConnection>> streams_;
  std::set<std::string> logged_;  // sending thread
  std::thread thread_;

  std::mutex mutex_;                                   // guards the four below
  std::condition_variable wake_;                       // with mutex_
  std::vector<Change> pending_;                        // mutex_
  std::unordered_map<std::string, size_t> pendingAt_;  // mutex_: address → place in pending_
  lo_timetag pendingTag_{0, 1};                        // mutex_
  bool stopping_ = false;                              // mutex_

  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> unsent_{0};
  std::atomic<bool> droppedLogged_{false};
};

}  // namespace wex
