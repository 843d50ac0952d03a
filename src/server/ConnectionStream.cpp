#include "server/ConnectionStream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace wex {

namespace {

std::string numericAddress(const sockaddr_storage& address, int* port) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET) {
    const auto& ipv4 = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &ipv4.sin_addr, text, sizeof text);
    if (port) *port = ntohs(ipv4.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& ipv6 = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &ipv6.sin6_addr, text, sizeof text);
    if (port) *port = ntohs(ipv6.sin6_port);
  }
  return text;
}

}  // namespace

ConnectionStream::ConnectionStream(int socket, std::string alreadyRead,
                                   Clock::time_point readDeadline,
                                   std::chrono::milliseconds writeTimeout)
    : socket_(socket),
      pending_(std::move(alreadyRead)),
      readDeadline_(readDeadline),
      writeTimeout_(writeTimeout) {}

std::string ConnectionStream::peerAddress(int socket, int* port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getpeername(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return "";
  return numericAddress(address, port);
}

bool ConnectionStream::waitFor(short events, std::chrono::milliseconds longest) const {
  pollfd entry{socket_, events, 0};
  int ready = 0;
  do {
    ready = ::poll(&entry, 1, static_cast<int>(std::max<int64_t>(longest.count(), 0)));
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

bool ConnectionStream::is_readable() const {
  if (pendingAt_ < pending_.size()) return true;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(readDeadline_ - Clock::now());
  return left.count() > 0 && waitFor(POLLIN, left);
}

bool ConnectionStream::is_writable() const {
  return waitFor(POLLOUT, writeTimeout_);
}

ssize_t ConnectionStream::read(char* data, size_t size) {
  if (pendingAt_ < pending_.size()) {
    const size_t count = std::min(size, pending_.size() - pendingAt_);
    std::memcpy(data, pending_.data() + pendingAt_, count);
    pendingAt_ += count;
    return static_cast<ssize_t>(count);
  }
  if (!is_readable()) return -1;
  ssize_t count = 0;
  do {
    count = ::recv(socket_, data, size, MSG_DONTWAIT);
  } while (count < 0 && errno == EINTR);
  return count;
}

ssize_t ConnectionStream::write(const char* data, size_t size) {
  if (!is_writable()) return -1;
  ssize_t count = 0;
  do {
    count = ::send(socket_, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (count < 0 && errno == EINTR);
  if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
  return count;
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  ip = peerAddress(socket_, &port);
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    ip = numericAddress(address, &port);
  }
}

}  // namespace wex
