#pragma once

#include <httplib.h>

#include <chrono>
#include <string>

namespace wex {

// An accepted connection as the HTTP library reads and writes it, for one
// request: what was read of it already (its head, and perhaps the start of
// its body) comes first, and reading stops at a deadline for the whole
// request however the bytes trickle in. Writing waits at most the write
// timeout for each piece. Does not own the socket.
class ConnectionStream : public httplib::Stream {
 public:
  using Clock = std::chrono::steady_clock;

  ConnectionStream(int socket, std::string alreadyRead, Clock::time_point readDeadline,
                   std::chrono::milliseconds writeTimeout);

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* data, size_t size) override;
  ssize_t write(const char* data, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  int socket() const override { return socket_; }

  // The numeric address of a socket's peer ("127.0.0.1", "::1"); empty when
  // it has none.
  static std::string peerAddress(int socket, int* port = nullptr);

 private:
  bool waitFor(short events, std::chrono::milliseconds longest) const;

  const int socket_;
  std::string pending_;  // read before the stream began, handed out first
  size_t pendingAt_ = 0;
  const Clock::time_point readDeadline_;
  const std::chrono::milliseconds writeTimeout_;
};

}  // namespace wex
