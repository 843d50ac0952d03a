#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "host/Composition.h"
#include "server/EventHub.h"

namespace wex {

// Watches a running composition from a thread of its own, so that the
// evaluation thread never does anything for the page: port values that
// changed ("values", each port at most kMaxUpdatesPerSecond times a second,
// always its latest value), patches whose ports changed ("composition"), and
// open panels whose contents changed ("panel", read on the main thread).
// Looks only while a client is connected: every kLookPeriod, and soon after
// each evaluation it is told of (at most every kLeastLookGap).
class CompositionWatcher {
 public:
  static constexpr double kMaxUpdatesPerSecond = 30;

  CompositionWatcher(Composition& composition, EventHub& hub);
  ~CompositionWatcher();
  CompositionWatcher(const CompositionWatcher&) = delete;
  CompositionWatcher& operator=(const CompositionWatcher&) = delete;

  void start();
  void stop();
  // A panel that a client shows: its changes are published.
  void watchPanel(const std::string& id);
  void forgetPanel(const std::string& id);
  // An evaluation just ended: look soon. Any thread; costs an atomic
  // exchange, and a wake-up only when the watcher is not already due to look.
  void evaluated();

 private:
  using Clock = std::chrono::steady_clock;
  struct Seen {
    uint64_t version = 0;
    Clock::time_point sentAt;
  };

  void loop();
  // Waits until it is time to look again; false once stopping.
  bool waitForALook();
  void lookAtValues();
  void lookAtPanels();

  Composition& composition_;
  EventHub& hub_;

  // The watcher's thread only.
  std::map<std::string, Seen> seen_;               // by "id.port"
  std::map<std::string, std::string> portLists_;   // by patch id: its ports' keys
  std::map<std::string, std::string> panelTexts_;  // by patch id
  Clock::time_point panelsLookedAt_;

  std::mutex mutex_;  // guards the fields below
  std::condition_variable wake_;
  bool stopping_ = false;
  Clock::time_point lookedAt_;
  std::atomic<bool> evaluated_{false};
  std::set<std::string> panels_;
  std::atomic<bool> finished_{true};
  std::thread thread_;
};

}  // namespace wex
