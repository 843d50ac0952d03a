#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace wex {

// One TCP connection to an OSC receiver, each packet framed by its length
// (32 bits, big-endian), as OSC streams are. A receiver that does not take a
// packet within kTimeout loses the connection, which the next packet makes
// again: a receiver that stops reading never holds the sending thread for
// long, and a packet cut off in the middle never reaches it.
class OscStreamConnection {
 public:
  static constexpr std::chrono::milliseconds kTimeout{1000};

  OscStreamConnection(std::string host, std::string port)
      : host_(std::move(host)), port_(std::move(port)) {}
  ~OscStreamConnection();
  OscStreamConnection(const OscStreamConnection&) = delete;
  OscStreamConnection& operator=(const OscStreamConnection&) = delete;

  // Connects when not connected, then sends one packet. False, with the
  // reason, when it could not.
  bool send(const void* packet, size_t size, std::string* reason);

 private:
  using Clock = std::chrono::steady_clock;

  bool connect(Clock::time_point deadline, std::string* reason);
  bool writeAll(const uint8_t* data, size_t size, Clock::time_point deadline, std::string* reason);
  // Waits until the socket may be written; false at the deadline.
  bool waitWritable(Clock::time_point deadline);
  void disconnect();

  const std::string host_;
  const std::string port_;
  int socket_ = -1;
};

}  // namespace wex
