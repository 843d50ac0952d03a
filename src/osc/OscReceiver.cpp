#include "osc/OscReceiver.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "osc/OscPacketReader.h"

namespace wex {

namespace {

// A UDP datagram's largest payload.
constexpr size_t kLargestPacket = 65536;
// How often the receiving thread looks whether it should stop.
constexpr int kPollMilliseconds = 100;

}  // namespace

bool OscReceiver::parsePlace(const std::string& where, std::string* host, std::string* port) {
  const size_t colon = where.rfind(':');
  *host = colon == std::string::npos ? "127.0.0.1" : where.substr(0, colon);
  *port = colon == std::string::npos ? where : where.substr(colon + 1);
  if (host->size() > 2 && host->front() == '[' && host->back() == ']') {
    *host = host->substr(1, host->size() - 2);
  }
  if (host->empty() || port->empty() || port->size() > 5) return false;
  for (const char c : *port) {
    if (c < '0' || c > '9') return false;
  }
  return std::strtol(port->c_str(), nullptr, 10) <= 65535;
}

OscReceiver::~OscReceiver() {
  stop();
}

bool OscReceiver::start(const std::string& where, std::string* reason) {
  std::string host, port;
  if (!parsePlace(where, &host, &port)) {
    *reason = "expected PORT or HOST:PORT (PORT 0 to 65535), got \"" + where + "\"";
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (const int error = getaddrinfo(host.c_str(), port.c_str(), &hints, &found)) {
    *reason = "cannot listen on " + host + ":" + port + ": " + gai_strerror(error);
    return false;
  }
  int error = 0;
  for (addrinfo* at = found; at && socket_ < 0; at = at->ai_next) {
    socket_ = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
    if (socket_ < 0) continue;
    if (::bind(socket_, at->ai_addr, at->ai_addrlen) != 0) {
      error = errno;
      ::close(socket_);
      socket_ = -1;
    }
  }
  freeaddrinfo(found);
  if (socket_ < 0) {
    *reason = "cannot listen on " + host + ":" + port + ": " + std::strerror(error);
    return false;
  }
  sockaddr_storage bound{};
  socklen_t length = sizeof bound;
  char boundPort[NI_MAXSERV] = "";
  ::getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &length);
  ::getnameinfo(reinterpret_cast<sockaddr*>(&bound), length, nullptr, 0, boundPort,
                sizeof boundPort, NI_NUMERICSERV);
  url_ = "osc.udp://" + (host.find(':') != std::string::npos ? "[" + host + "]" : host) + ":" +
         boundPort;
  thread_ = std::thread([this] { run(); });
  return true;
}

void OscReceiver::stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

void OscReceiver::take(std::vector<OscRequest>* requests, std::vector<OscRefusal>* refusals) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& request : requests_) requests->push_back(std::move(request));
  for (auto& refusal : refusals_) refusals->push_back(std::move(refusal));
  requests_.clear();
  refusals_.clear();
}

void OscReceiver::run() {
  std::vector<uint8_t> buffer(kLargestPacket);
  while (!stopping_) {
    pollfd ready{socket_, POLLIN, 0};
    if (::poll(&ready, 1, kPollMilliseconds) > 0) receiveOne(buffer);
  }
}

void OscReceiver::receiveOne(std::vector<uint8_t>& buffer) {
  const ssize_t size = ::recv(socket_, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT);
  if (size < 0) return;
  std::vector<OscRequest> requests;
  std::vector<OscRefusal> refusals;
  if (static_cast<size_t>(size) > buffer.size()) {
    refusals.push_back({"", "a packet larger than 64 KiB"});
  } else {
    OscPacketReader::read(buffer.data(), static_cast<size_t>(size), &requests, &refusals);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& request : requests) {
    if (requests_.size() < kMaxQueued) {
      requests_.push_back(std::move(request));
    } else {
      ++dropped_;
    }
  }
  refused_ += refusals.size();
  for (auto& refusal : refusals) {
    if (refusals_.size() < kMaxQueued) refusals_.push_back(std::move(refusal));
  }
}

}  // namespace wex
