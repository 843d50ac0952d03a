#include "server/RequestHeadGate.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "server/ConnectionStream.h"

namespace wex {

namespace {

void closeSocket(int socket) {
  ::shutdown(socket, SHUT_RDWR);
  ::close(socket);
}

}  // namespace

RequestHeadGate::RequestHeadGate(Limits limits, Ready ready)
    : limits_(limits), ready_(std::move(ready)) {}

RequestHeadGate::~RequestHeadGate() {
  stop();
}

size_t RequestHeadGate::headEnd(const std::string& bytes, size_t from) {
  const size_t at = bytes.find("\r\n\r\n", from < 3 ? 0 : from - 3);
  return at == std::string::npos ? at : at + 4;
}

void RequestHeadGate::start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    stopping_ = false;
  }
  thread_ = std::thread([this] { loop(); });
}

void RequestHeadGate::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    wake();
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  for (int socket : arrivals_) closeSocket(socket);
  arrivals_.clear();
  if (wakeFd_ >= 0) ::close(wakeFd_);
  wakeFd_ = -1;
}

void RequestHeadGate::admit(int socket) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || wakeFd_ < 0) {
      closeSocket(socket);
      return;
    }
    arrivals_.push_back(socket);
    wake();
  }
}

void RequestHeadGate::finished(const std::string& address) {
  std::lock_guard lock(mutex_);
  auto served = served_.find(address);
  if (served != served_.end() && --served->second == 0) served_.erase(served);
}

void RequestHeadGate::wake() {
  const uint64_t one = 1;
  if (wakeFd_ >= 0 && ::write(wakeFd_, &one, sizeof one) < 0) {
    // The counter is full: the gate's thread is awake anyway.
  }
}

void RequestHeadGate::loop() {
  std::vector<pollfd> polled;
  while (true) {
    std::vector<int> arrived;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
      arrived.swap(arrivals_);
    }
    for (int socket : arrived) take(socket);
    closeExpired();

    polled.assign(1, pollfd{wakeFd_, POLLIN, 0});
    auto nearest = Clock::now() + limits_.headTime;
    for (const auto& waiting : waiting_) {
      polled.push_back(pollfd{waiting.socket, POLLIN, 0});
      nearest = std::min(nearest, waiting.deadline);
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(nearest - Clock::now());
    if (::poll(polled.data(), polled.size(), static_cast<int>(std::max<int64_t>(wait.count(), 0))) <
        0) {
      continue;
    }
    uint64_t count = 0;
    if (polled[0].revents != 0 && ::read(wakeFd_, &count, sizeof count) < 0) {
      // Nothing to drain.
    }
    // waiting_ is the same as when polled: only this thread changes it.
    std::vector<bool> done(waiting_.size(), false);
    for (size_t i = 0; i < waiting_.size(); ++i) {
      if (polled[i + 1].revents != 0) done[i] = readFrom(waiting_[i]);
    }
    size_t kept = 0;
    for (size_t i = 0; i < waiting_.size(); ++i) {
      if (!done[i]) waiting_[kept++] = std::move(waiting_[i]);
    }
    waiting_.resize(kept);
  }
  for (const auto& waiting : waiting_) closeSocket(waiting.socket);
  waiting_.clear();
}

void RequestHeadGate::take(int socket) {
  const std::string address = ConnectionStream::peerAddress(socket);
  size_t held = 0;
  {
    std::lock_guard lock(mutex_);
    auto served = served_.find(address);
    held = served == served_.end() ? 0 : served->second;
  }
  const auto sameAddress = [&](const Waiting& waiting) { return waiting.address == address; };
  held += std::count_if(waiting_.begin(), waiting_.end(), sameAddress);
  if (held >= limits_.connectionsPerAddress) {
    auto oldest = std::find_if(waiting_.begin(), waiting_.end(), sameAddress);
    if (oldest == waiting_.end()) {
      closeSocket(socket);
      return;
    }
    closeSocket(oldest->socket);
    waiting_.erase(oldest);
  }
  if (waiting_.size() >= limits_.waitingConnections) {
    closeSocket(waiting_.front().socket);
    waiting_.pop_front();
  }
  // Answers go out as soon as they are written, not after a delayed ACK.
  const int on = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  waiting_.push_back(Waiting{socket, address, Clock::now() + limits_.headTime, {}});
}

void RequestHeadGate::closeExpired() {
  const auto now = Clock::now();
  const auto expired = [now](const Waiting& waiting) { return waiting.deadline <= now; };
  for (const auto& waiting : waiting_) {
    if (expired(waiting)) closeSocket(waiting.socket);
  }
  waiting_.erase(std::remove_if(waiting_.begin(), waiting_.end(), expired), waiting_.end());
}

bool RequestHeadGate::readFrom(Waiting& waiting) {
  char buffer[4096];
  const ssize_t count = ::recv(waiting.socket, buffer, sizeof buffer, MSG_DONTWAIT);
  if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return false;
  if (count <= 0) {
    closeSocket(waiting.socket);
    return true;
  }
  const size_t from = waiting.bytes.size();
  waiting.bytes.append(buffer, static_cast<size_t>(count));
  if (headEnd(waiting.bytes, from) != std::string::npos) {
    {
      std::lock_guard lock(mutex_);
      ++served_[waiting.address];
    }
    ready_(waiting.socket, std::move(waiting.bytes), waiting.address);
    return true;
  }
  if (waiting.bytes.size() > limits_.headBytes) {
    closeSocket(waiting.socket);
    return true;
  }
  return false;
}

}  // namespace wex
