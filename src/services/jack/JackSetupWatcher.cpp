#include "services/jack/JackSetupWatcher.h"

#include <chrono>

namespace wex {

namespace {

constexpr auto kReconnectInterval = std::chrono::milliseconds(250);
constexpr auto kIdleInterval = std::chrono::milliseconds(1000);
// Registrations come in bursts (a client with many ports): let a burst end
// before listing the graph again.
constexpr auto kSettleTime = std::chrono::milliseconds(20);

}  // namespace

JackSetupWatcher::JackSetupWatcher(Owner& owner) : owner_(owner) {}

JackSetupWatcher::~JackSetupWatcher() {
  stop();
}

void JackSetupWatcher::start() {
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
}

void JackSetupWatcher::stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  signal_.notify();
  thread_.join();
}

void JackSetupWatcher::markDirty() {
  dirty_.store(true);
  signal_.notify();
}

void JackSetupWatcher::markServerLost() {
  serverLost_.store(true);
  signal_.notify();
}

void JackSetupWatcher::run() {
  bool away = false;
  auto lastReport = std::chrono::steady_clock::now();
  while (!stopping_.load()) {
    signal_.wait(away ? kReconnectInterval : kIdleInterval);
    if (stopping_.load()) break;
    if (serverLost_.exchange(false)) {
      owner_.serverLost();
      away = true;
      owner_.setupMayHaveChanged();
    }
    if (away && owner_.reconnect()) {
      away = false;
      dirty_ = true;
    }
    // A refused connection is tried again at every wake, once a second at least.
    if (!away && (dirty_.exchange(false) || owner_.linksPending())) {
      std::this_thread::sleep_for(kSettleTime);
      dirty_ = false;
      owner_.setupMayHaveChanged();
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastReport >= kIdleInterval) {
      lastReport = now;
      owner_.reportDrops();
    }
  }
}

}  // namespace wex
