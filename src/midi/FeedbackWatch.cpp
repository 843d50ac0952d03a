#include "midi/FeedbackWatch.h"

#include <algorithm>
#include <cstring>

#include "support/SystemLog.h"

namespace wex {

FeedbackWatch& FeedbackWatch::shared() {
  static FeedbackWatch watch;
  return watch;
}

uint64_t FeedbackWatch::sysexFingerprint(const OrvMIDIMessage& msg) {
  // The fields spread by an odd multiplier, then the bytes folded in,
  // FNV-1a style.
  uint64_t hash = msg.fields() * 0x9E3779B97F4A7C15ull;
  if (const auto* sysex = msg.sysexArray()) {
    for (auto byte : *sysex) {
      hash ^= static_cast<uint64_t>(byte);
      hash *= 1099511628211ull;
    }
  }
  return hash | uint64_t{1} << 63;
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

static_assert(FeedbackWatch::kSendsKept <= 256, "a send keeps its batch in one byte");

void FeedbackWatch::sent(const std::string& destination, const uint64_t* prints, size_t count) {
  if (count == 0) return;
  const auto now = Clock::now();
  std::lock_guard lock(mutex_);
  const auto batch = static_cast<uint8_t>(nextBatch_);
  batches_[batch] = Batch{now, destinationIndex(destination)};
  nextBatch_ = (nextBatch_ + 1) % kSendsKept;
  const size_t kept = std::min(count, kSendsKept);
  const uint64_t* from = prints + (count - kept);
  // Into the ring up to its end, then from its start.
  const size_t first = std::min(kept, kSendsKept - nextSend_);
  std::memcpy(&sendPrints_[nextSend_], from, first * sizeof(uint64_t));
  std::memset(&sendBatches_[nextSend_], batch, first);
  std::memcpy(&sendPrints_[0], from + first, (kept - first) * sizeof(uint64_t));
  std::memset(&sendBatches_[0], batch, kept - first);
  nextSend_ = (nextSend_ + kept) % kSendsKept;
}

void FeedbackWatch::received(const std::string& source, const OrvMIDIMessage& msg) {
  if (!watched(msg.type())) return;
  const uint64_t print = fingerprint(msg);
  const auto now = Clock::now();
  std::lock_guard lock(mutex_);
  size_t echoed = kSendsKept;
  // The oldest unanswered identical send within the window.
  for (size_t step = 0; step < kSendsKept; ++step) {
    const size_t slot = (nextSend_ + step) % kSendsKept;
    if (sendPrints_[slot] == print && now - batches_[sendBatches_[slot]].at <= kEchoWindow) {
      echoed = slot;
      break;
    }
  }
  Streak& streak = streakOf(source);
  if (echoed == kSendsKept) {
    streak.echoes = 0;
    return;
  }
  sendPrints_[echoed] = kAnswered;
  const size_t destination = batches_[sendBatches_[echoed]].destination;
  if (streak.destination != destination) streak = Streak{source, destination, 0, {}, 0};
  const auto& recent = streak.recentEchoes;
  if (std::find(recent.begin(), recent.end(), print) == recent.end()) {
    streak.recentEchoes[streak.nextRecent] = print;
    streak.nextRecent = (streak.nextRecent + 1) % recent.size();
    return;
  }
  if (++streak.echoes < kEchoesForALoop) return;
  if (!reported_.insert({source, destination}).second) return;
  SystemLog::writef(
      "feedback loop: what is sent to \"%s\" comes back from \"%s\", over and over; switch "
      "one of them off in the sender's or the receiver's panel",
      destinations_[destination].c_str(), source.c_str());
}

void FeedbackWatch::reset() {
  std::lock_guard lock(mutex_);
  destinations_.clear();
  sendPrints_ = {};
  sendBatches_ = {};
  nextSend_ = 0;
  batches_ = {};
  nextBatch_ = 0;
  streaks_.clear();
  reported_.clear();
}

}  // namespace wex
