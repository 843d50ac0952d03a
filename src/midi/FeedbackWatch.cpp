#include "midi/FeedbackWatch.h"

#include <algorithm>

#include "support/SystemLog.h"

namespace wex {

FeedbackWatch& FeedbackWatch::shared() {
  static FeedbackWatch watch;
  return watch;
}

uint64_t FeedbackWatch::fingerprint(const OrvMIDIMessage& msg) {
  // The four fields packed into one word and spread by an odd multiplier (no
  // two messages without sysex share a fingerprint); sysex bytes folded in
  // after them, FNV-1a style.
  const uint64_t fields = uint64_t{msg.type()} | uint64_t{msg.channel()} << 8 |
                          uint64_t{msg.data1()} << 16 | uint64_t{msg.data2()} << 24;
  uint64_t hash = fields * 0x9E3779B97F4A7C15ull;
  if (const auto* sysex = msg.sysexArray()) {
    for (auto byte : *sysex) {
      hash ^= static_cast<uint64_t>(byte);
      hash *= 1099511628211ull;
    }
  }
  return hash;
}

size_t FeedbackWatch::destinationIndex(const std::string& destination) {
  for (size_t i = 0; i < destinations_.size(); ++i) {
    if (destinations_[i] == destination) return i;
  }
  destinations_.push_back(destination);
  return destinations_.size() - 1;
}

FeedbackWatch::Streak& FeedbackWatch::streakOf(const std::string& source) {
  for (auto& streak : streaks_) {
    if (streak.source == source) return streak;
  }
  streaks_.push_back(Streak{source, 0, 0});
  return streaks_.back();
}

void FeedbackWatch::sent(const std::string& destination, const OrvMIDIMessagePtr* begin,
                         const OrvMIDIMessagePtr* end) {
  const auto now = Clock::now();
  std::lock_guard lock(mutex_);
  const size_t index = destinationIndex(destination);
  for (const OrvMIDIMessagePtr* msg = begin; msg != end; ++msg) {
    if (!*msg || !watched(**msg)) continue;
    sends_[nextSend_] = Send{fingerprint(**msg), now, index, false};
    nextSend_ = (nextSend_ + 1) % sends_.size();
  }
}

void FeedbackWatch::received(const std::string& source, const OrvMIDIMessage& msg) {
  if (!watched(msg)) return;
  const uint64_t print = fingerprint(msg);
  const auto now = Clock::now();
  std::lock_guard lock(mutex_);
  Send* echoed = nullptr;
  // The oldest unanswered identical send within the window.
  for (size_t step = 0; step < sends_.size(); ++step) {
    Send& send = sends_[(nextSend_ + step) % sends_.size()];
    if (!send.answered && send.fingerprint == print && now - send.at <= kEchoWindow) {
      echoed = &send;
      break;
    }
  }
  Streak& streak = streakOf(source);
  if (!echoed) {
    streak.echoes = 0;
    return;
  }
  echoed->answered = true;
  if (streak.destination != echoed->destination) {
    streak = Streak{source, echoed->destination, 0, {}, 0};
  }
  const auto& recent = streak.recentEchoes;
  if (std::find(recent.begin(), recent.end(), print) == recent.end()) {
    streak.recentEchoes[streak.nextRecent] = print;
    streak.nextRecent = (streak.nextRecent + 1) % recent.size();
    return;
  }
  if (++streak.echoes < kEchoesForALoop) return;
  if (!reported_.insert({source, echoed->destination}).second) return;
  SystemLog::writef(
      "feedback loop: what is sent to \"%s\" comes back from \"%s\", over and over; switch "
      "one of them off in the sender's or the receiver's panel",
      destinations_[echoed->destination].c_str(), source.c_str());
}

void FeedbackWatch::reset() {
  std::lock_guard lock(mutex_);
  destinations_.clear();
  sends_ = {};
  nextSend_ = 0;
  streaks_.clear();
  reported_.clear();
}

}  // namespace wex
