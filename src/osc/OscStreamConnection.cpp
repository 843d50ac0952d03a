#include "osc/OscStreamConnection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace wex {

OscStreamConnection::~OscStreamConnection() {
  disconnect();
}

bool OscStreamConnection::send(const void* packet, size_t size, std::string* reason) {
  const auto deadline = Clock::now() + kTimeout;
  if (socket_ < 0 && !connect(deadline, reason)) return false;
  const uint32_t length = static_cast<uint32_t>(size);
  const uint8_t frame[4] = {static_cast<uint8_t>(length >> 24), static_cast<uint8_t>(length >> 16),
                            static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
  if (writeAll(frame, sizeof frame, deadline, reason) &&
      writeAll(static_cast<const uint8_t*>(packet), size, deadline, reason)) {
    return true;
  }
  disconnect();
  return false;
}

bool OscStreamConnection::connect(Clock::time_point deadline, std::string* reason) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int error = getaddrinfo(host_.c_str(), port_.c_str(), &hints, &found)) {
    *reason = gai_strerror(error);
    return false;
  }
  *reason = "no address";
  for (addrinfo* at = found; at && socket_ < 0; at = at->ai_next) {
    socket_ =
        ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, at->ai_protocol);
    if (socket_ < 0) continue;
    int error = 0;
    if (::connect(socket_, at->ai_addr, at->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS) {
        socklen_t length = sizeof error;
        error = waitWritable(deadline) ? 0 : ETIMEDOUT;
        if (error == 0) ::getsockopt(socket_, SOL_SOCKET, SO_ERROR, &error, &length);
      }
    }
    if (error != 0) {
      *reason = std::strerror(error);
      disconnect();
    }
  }
  freeaddrinfo(found);
  if (socket_ < 0) return false;
  const int on = 1;
  ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return true;
}

bool OscStreamConnection::writeAll(const uint8_t* data, size_t size, Clock::time_point deadline,
                                   std::string* reason) {
  while (size > 0) {
    const ssize_t written = ::send(socket_, data, size, MSG_NOSIGNAL);
    if (written > 0) {
      data += written;
      size -= static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      *reason = std::strerror(errno);
      return false;
    }
    if (!waitWritable(deadline)) {
      *reason = "the receiver takes nothing (it does not read)";
      return false;
    }
  }
  return true;
}

bool OscStreamConnection::waitWritable(Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd ready{socket_, POLLOUT, 0};
    const int result = ::poll(&ready, 1, static_cast<int>(left));
    if (result > 0) return true;
    if (result < 0 && errno != EINTR) return false;
  }
}

void OscStreamConnection::disconnect() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

}  // namespace wex
