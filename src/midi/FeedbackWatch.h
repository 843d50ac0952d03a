#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "midi/OrvMIDIMessage.h"

namespace wex {

// Notices a feedback loop: messages that arrive from a source shortly after
// this process sent the same messages to a destination, the same ones again
// and again (a
// sender that reaches a bus or client that passes its input back to a source
// its own receivers hear). Reports each pair of endpoints once, in one log
// line. System real-time messages (clock, active sensing) repeat by nature
// and are left out.
class FeedbackWatch {
 public:
  // Echoes in a row of messages that had come back before, with no other
  // message from that source between them, that make a loop.
  static constexpr int kEchoesForALoop = 64;
  // How long after a send an identical arrival counts as its echo.
  static constexpr std::chrono::milliseconds kEchoWindow{50};

  static FeedbackWatch& shared();

  // After the messages [begin, end) went out to `destination` together
  // (sender nodes, any thread); null pointers are skipped. One lock and one
  // look at the clock for the lot.
  void sent(const std::string& destination, const OrvMIDIMessagePtr* begin,
            const OrvMIDIMessagePtr* end);
  // When `msg` arrived from `source` (receiver nodes, any thread).
  void received(const std::string& source, const OrvMIDIMessage& msg);
  // Forgets everything, reports included.
  void reset();

 private:
  using Clock = std::chrono::steady_clock;
  struct Send {
    uint64_t fingerprint = 0;
    Clock::time_point at{};
    size_t destination = 0;  // in destinations_
    bool answered = true;    // an arrival matched it already (or the slot is unused)
  };
  // Per source: the echoes in a row of messages that had come back before.
  struct Streak {
    std::string source;
    size_t destination = 0;
    int echoes = 0;
    std::array<uint64_t, 16> recentEchoes{};  // fingerprints
    size_t nextRecent = 0;
  };

  static uint64_t fingerprint(const OrvMIDIMessage& msg);
  static bool watched(const OrvMIDIMessage& msg) { return msg.type() < 0xF8; }
  size_t destinationIndex(const std::string& destination);
  Streak& streakOf(const std::string& source);

  std::mutex mutex_;  // guards everything below
  std::vector<std::string> destinations_;
  std::array<Send, 256> sends_{};
  size_t nextSend_ = 0;
  std::vector<Streak> streaks_;
  std::set<std::pair<std::string, size_t>> reported_;
};

}  // namespace wex
