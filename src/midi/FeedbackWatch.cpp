#include "midi/FeedbackWatch.h"

#include <algorithm>

#include "support/SystemLog.h"

namespace wex {

FeedbackWatch& FeedbackWatch::shared() {
  static FeedbackWatch watch;
  return watch;
}

uint64_t FeedbackWatch::fingerprint(const OrvMIDIMessage& msg) {
  // FNV-1a over the fields and the sysex bytes.
  uint64_t hash = 14695981039346656037ull;
  auto mix = [&hash](uint64_t byte) {
    hash ^= byte;
    hash *= 1099511628211ull;
  };
  for (uint8_t field : {msg.type(), msg.channel(), msg.data1(), msg.data2()}) mix(field);
  if (const auto* sysex = msg.sysexArray()) {
    for (int32_t byte : *sysex) mix(static_cast<uint64_t>(byte));
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
