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
  Streak streak;
  streak.source = source;
  streaks_.push_back(std::move(streak));
  return streaks_.back();
}

static_assert(FeedbackWatch::kSendsKept <= 65536, "a send keeps its batch in two bytes");

void FeedbackWatch::sent(const std::string& destination, const uint64_t* prints, size_t count) {
  if (count == 0) return;
  const auto now = Clock::now();
  std::lock_guard lock(mutex_);
  const auto batch = static_cast<uint16_t>(nextBatch_);
  batches_[batch] = Batch{now, destinationIndex(destination)};
  nextBatch_ = (nextBatch_ + 1) % kSendsKept;
  const size_t kept = std::min(count, kSendsKept);
  const uint64_t* from = prints + (count - kept);
  // Into the ring up to its end, then from its start.
  const size_t first = std::min(kept, kSendsKept - nextSend_);
  std::memcpy(&sendPrints_[nextSend_], from, first * sizeof(uint64_t));
  std::fill_n(&sendBatches_[nextSend_], first, batch);
  std::memcpy(&sendPrints_[0], from + first, (kept - first) * sizeof(uint64_t));
  std::fill_n(&sendBatches_[0], kept - first, batch);
  nextSend_ = (nextSend_ + kept) % kSendsKept;
}

// The sends are in the order of their times, oldest first from nextSend_ on:
// the first made since `since` is found by halving, and only those after it
// are looked at. Each destination the message went to since then is noted in
// echoDestinations_, once.
size_t FeedbackWatch::oldestUnanswered(uint64_t print, Clock::time_point since) {
  auto at = [this](size_t step) { return (nextSend_ + step) % kSendsKept; };
  size_t low = 0;
  size_t high = kSendsKept;
  while (low < high) {
    const size_t middle = (low + high) / 2;
    if (batches_[sendBatches_[at(middle)]].at < since) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  echoDestinations_.clear();
  size_t oldest = kSendsKept;
  for (size_t step = low; step < kSendsKept; ++step) {
    const size_t slot = at(step);
    if (sendPrints_[slot] != print) continue;
    if (oldest == kSendsKept) oldest = slot;
    const size_t destination = batches_[sendBatches_[slot]].destination;
    if (std::find(echoDestinations_.begin(), echoDestinations_.end(), destination) ==
        echoDestinations_.end()) {
      echoDestinations_.push_back(destination);
    }
  }
  return oldest;
}

// What is sent to several destinations comes back as the echo of any of
// them, so the tallies of all of them grow. Of those close to the most, the
// one whose name begins most like the source's ("Port-0 in" and "Port-0 out"
// of one client, "synth:in" and "synth:out"): that is where a loop through
// a client is.
size_t FeedbackWatch::loopDestination(const Streak& streak) const {
  int most = 0;
  for (const auto& entry : streak.byDestination) most = std::max(most, entry.second);
  auto sharedStart = [&](size_t destination) {
    const std::string& name = destinations_[destination];
    auto differ =
        std::mismatch(name.begin(), name.end(), streak.source.begin(), streak.source.end());
    return differ.first - name.begin();
  };
  size_t chosen = streak.byDestination.front().first;
  auto best = std::make_pair(std::ptrdiff_t{-1}, 0);
  for (const auto& [destination, echoes] : streak.byDestination) {
    if (echoes * 4 < most * 3) continue;
    const auto score = std::make_pair(sharedStart(destination), echoes);
    if (score > best) {
      best = score;
      chosen = destination;
    }
  }
  return chosen;
}

void FeedbackWatch::received(const std::string& source, const OrvMIDIMessage& msg) {
  if (!watched(msg.type())) return;
  const uint64_t print = fingerprint(msg);
  const auto now = Clock::now();
  std::lock_guard lock(mutex_);
  const size_t echoed = oldestUnanswered(print, now - kEchoWindow);
  Streak& streak = streakOf(source);
  if (echoed == kSendsKept) {
    streak.echoes = 0;
    streak.byDestination.clear();
    return;
  }
  sendPrints_[echoed] = kAnswered;
  const auto& recent = streak.recentEchoes;
  if (std::find(recent.begin(), recent.end(), print) == recent.end()) {
    streak.recentEchoes[streak.nextRecent] = print;
    streak.nextRecent = (streak.nextRecent + 1) % recent.size();
    return;
  }
  for (const size_t destination : echoDestinations_) {
    auto tally = std::find_if(streak.byDestination.begin(), streak.byDestination.end(),
                              [&](const auto& entry) { return entry.first == destination; });
    if (tally == streak.byDestination.end()) {
      streak.byDestination.emplace_back(destination, 1);
    } else {
      ++tally->second;
    }
  }
  if (++streak.echoes < kEchoesForALoop) return;
  const size_t looped = loopDestination(streak);
  if (!reported_.insert({source, looped}).second) return;
  SystemLog::writef(
      "feedback loop: what is sent to \"%s\" comes back from \"%s\", over and over; switch "
      "one of them off in the sender's or the receiver's panel",
      destinations_[looped].c_str(), source.c_str());
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
