#include "osc/OscSender.h"

#include <cstdlib>

#include "osc/OscValueWriter.h"
#include "support/SystemLog.h"

namespace wex {

OscSender::OscSender(std::vector<OscTarget> targets) : targets_(std::move(targets)) {}

OscSender::~OscSender() {
  stop();
  for (lo_address address : datagrams_) {
    if (address) lo_address_free(address);
  }
}

bool OscSender::start(std::string* reason) {
  for (const auto& target : targets_) {
    if (target.tcp) {
      datagrams_.push_back(nullptr);
      streams_.push_back(std::make_unique<OscStreamConnection>(target.host, target.port));
      continue;
    }
    lo_address address =
        lo_address_new_with_proto(LO_UDP, target.host.c_str(), target.port.c_str());
    if (!address) {
      *reason = "cannot send to " + target.text();
      return false;
    }
    datagrams_.push_back(address);
    streams_.push_back(nullptr);
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

void OscSender::post(std::vector<Change> changes) {
  if (changes.empty()) return;
  lo_timetag now;
  lo_timetag_now(&now);
  uint64_t refused = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& change : changes) {
      auto found = pendingAt_.find(change.address);
      if (found != pendingAt_.end()) {
        pending_[found->second] = std::move(change);
      } else if (pending_.size() < kMaxPendingAddresses) {
        pendingAt_.emplace(change.address, pending_.size());
        pending_.push_back(std::move(change));
      } else {
        ++refused;
      }
    }
    pendingTag_ = now;
  }
  wake_.notify_one();
  if (refused == 0) return;
  dropped_ += refused;
  if (!droppedLogged_.exchange(true)) {
    SystemLog::write(
        "\tOSC out: the queue is full (the receivers are slower than the "
        "composition): changes are dropped and counted");
  }
}

void OscSender::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  if (thread_.joinable()) thread_.join();
}

void OscSender::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
    if (pending_.empty()) return;  // stopping, nothing owed
    std::vector<Change> changes;
    changes.swap(pending_);
    pendingAt_.clear();
    const lo_timetag tag = pendingTag_;
    lock.unlock();
    sendAll(changes, tag);
    lock.lock();
  }
}

void OscSender::sendAll(const std::vector<Change>& changes, lo_timetag tag) {
  lo_bundle bundle = lo_bundle_new(tag);
  for (const auto& change : changes) {
    lo_message message = lo_message_new();
    OscValueWriter::append(message, change.value, change.carriesMessages);
    const size_t length = lo_message_length(message, change.address.c_str());
    if (length > kMaxBundleBytes) {
      lo_message_free(message);
      unsent_ += targets_.size();
      logOnce("\tOSC out: " + change.address + ": a value larger than " +
              std::to_string(kMaxBundleBytes) +
              " bytes is too large to send; such values are dropped and counted");
      continue;
    }
    if (lo_bundle_count(bundle) > 0 && lo_bundle_length(bundle) + length + 4 > kMaxBundleBytes) {
      sendBundle(bundle);
      lo_bundle_free_recursive(bundle);
      bundle = lo_bundle_new(tag);
    }
    lo_bundle_add_message(bundle, change.address.c_str(), message);
  }
  if (lo_bundle_count(bundle) > 0) sendBundle(bundle);
  lo_bundle_free_recursive(bundle);
}

void OscSender::sendBundle(lo_bundle bundle) {
  size_t size = 0;
  void* packet = nullptr;
  for (size_t i = 0; i < targets_.size(); ++i) {
    std::string reason;
    if (datagrams_[i]) {
      if (lo_send_bundle(datagrams_[i], bundle) >= 0) continue;
      reason = lo_address_errstr(datagrams_[i]);
    } else {
      if (!packet) packet = lo_bundle_serialise(bundle, nullptr, &size);
      if (packet && streams_[i]->send(packet, size, &reason)) continue;
    }
    unsent_ += lo_bundle_count(bundle);
    logOnce("\tOSC out: cannot send to " + targets_[i].text() + ": " + reason +
            "; what cannot be sent is counted");
  }
  std::free(packet);
}

void OscSender::logOnce(const std::string& line) {
  if (logged_.insert(line).second) SystemLog::write(line);
}

}  // namespace wex
