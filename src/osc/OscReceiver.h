#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "osc/OscRequest.h"

namespace wex {

// Receives OSC over UDP on a thread of its own and reads each packet into
// requests and refusals, which wait in a bounded queue until the thread that
// may change the composition takes them. Requests beyond kMaxQueued are
// dropped and counted; every refusal is counted, and the first kMaxQueued
// waiting are kept for the log.
class OscReceiver {
 public:
  static constexpr size_t kMaxQueued = 4096;

  OscReceiver() = default;
  ~OscReceiver();
  OscReceiver(const OscReceiver&) = delete;
  OscReceiver& operator=(const OscReceiver&) = delete;

  // Listens on HOST:PORT, or PORT on 127.0.0.1 (port 0 picks a free one).
  // False, with the reason, when the text is no such place or the socket
  // cannot be bound.
  bool start(const std::string& where, std::string* reason);
  // Splits PORT or HOST:PORT; false when the text is neither.
  static bool parsePlace(const std::string& where, std::string* host, std::string* port);
  void stop();
  // The place listened on, as osc.udp://HOST:PORT.
  std::string url() const { return url_; }

  // What has come since the last take (the taker's thread).
  void take(std::vector<OscRequest>* requests, std::vector<OscRefusal>* refusals);
  // Requests dropped because the queue was full.
  uint64_t dropped() const { return dropped_.load(); }
  // Messages and packets refused as they came (unreadable, no such address,
  // arguments of the wrong types).
  uint64_t refused() const { return refused_.load(); }

 private:
  void run();
  void receiveOne(std::vector<uint8_t>& buffer);

  int socket_ = -1;
  std::string url_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};

  std::mutex mutex_;                 // guards the two below
  std::deque<OscRequest> requests_;  // mutex_
  std::deque<OscRefusal> refusals_;  // mutex_
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> refused_{0};
};

}  // namespace wex
