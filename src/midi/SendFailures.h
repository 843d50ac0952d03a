#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace wex {

// What the nodes of one sender could not send. Every such message is
// counted; each cause (a destination and the reason, such as a message too
// long for a packet list or one error of the MIDI services) is logged once
// only, so that a composition that fails the same way at every evaluation
// says so once instead of flooding the log.
class SendFailures {
 public:
  // `sender` names the sender in the log line (a patch id); may be empty.
  explicit SendFailures(std::string sender) : sender_(std::move(sender)) {}

  // Counts one message not sent to `destination` for `cause`; true the first
  // time for that destination and cause, when it is to be logged.
  bool count(const std::string& destination, const std::string& cause);
  // The line that tells what was not sent and why, and that more of the
  // same are only counted.
  void explain(const std::string& destination, const std::string& reason) const;

  uint64_t total() const { return total_.load(); }

 private:
  const std::string sender_;
  std::atomic<uint64_t> total_{0};
  std::mutex mutex_;  // guards logged_
  std::set<std::pair<std::string, std::string>> logged_;
};

}  // namespace wex
