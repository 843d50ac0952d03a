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
#include "services/MIDIStatus.h"

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
  // message from that source between them, that make a loop. A loop through
  // one client brings a message back once a round trip, which takes a few
  // server cycles (PipeWire's are 21 ms long by default): it is caught
  // within a second.
  static constexpr int kEchoesForALoop = 12;
  // How long after a send an identical arrival counts as its echo: a round
  // trip through another client, of a few long cycles.
  static constexpr std::chrono::milliseconds kEchoWindow{250};

  // Sends remembered: the last this many messages sent, from all senders.
  // A loop that runs away sends thousands of messages a second to several
  // destinations, and its echoes must still find their sends.
  static constexpr size_t kSendsKept = 4096;

  static FeedbackWatch& shared();

  // What identifies a message among those sent and received: its fields()
  // word (never 0: a message's type is a status byte), and for a system
  // exclusive message a hash of its bytes as well (with the top bit set, so
  // that it never equals a word of fields).
  static uint64_t fingerprint(const OrvMIDIMessage& msg) {
    return msg.type() == kMIDISysexStart ? sysexFingerprint(msg) : msg.fields();
  }
  // System real-time messages (clock, active sensing) repeat by nature and
  // are left out.
  static constexpr bool watched(uint8_t type) { return type < kMIDIFirstRealtime; }

  // After messages went out to `destination` together (sender nodes, any
  // thread): their `count` fingerprints in order, of which the last
  // kSendsKept are kept; those of real-time messages are never matched.
  // One lock and one look at the clock for the lot.
  void sent(const std::string& destination, const uint64_t* prints, size_t count);
  // When `msg` arrived from `source` (receiver nodes, any thread).
  void received(const std::string& source, const OrvMIDIMessage& msg);
  // Forgets everything, reports included.
  void reset();

 private:
  using Clock = std::chrono::steady_clock;
  // The messages of one call of sent().
  struct Batch {
    Clock::time_point at{};
    size_t destination = 0;  // in destinations_
  };
  // Per source: the echoes in a row of messages that had come back before,
  // whichever destination each went to (what is sent to every destination
  // comes back as the echo of any of them), and of those, how many each
  // destination had; the loop is named after one of those (loopDestination).
  struct Streak {
    std::string source;
    int echoes = 0;
    std::vector<std::pair<size_t, int>> byDestination;  // index in destinations_, echoes
    std::array<uint64_t, 16> recentEchoes{};            // fingerprints
    size_t nextRecent = 0;
  };

  static uint64_t sysexFingerprint(const OrvMIDIMessage& msg);
  size_t destinationIndex(const std::string& destination);
  Streak& streakOf(const std::string& source);
  // The slot of the oldest unanswered send of `print` made since `since`,
  // kSendsKept when there is none.
  size_t oldestUnanswered(uint64_t print, Clock::time_point since);
  size_t loopDestination(const Streak& streak) const;

  std::mutex mutex_;  // guards everything below
  std::vector<std::string> destinations_;
  // The sends, oldest first from nextSend_ on: a fingerprint, kAnswered
  // once an arrival matched it (and in an unused slot), and its batch (a
  // batch has at least one send, so the last kSendsKept batches hold every
  // send kept).
  static constexpr uint64_t kAnswered = 0;  // no message's fingerprint
  std::array<uint64_t, kSendsKept> sendPrints_{};
  std::array<uint16_t, kSendsKept> sendBatches_{};
  size_t nextSend_ = 0;
  std::array<Batch, kSendsKept> batches_{};
  size_t nextBatch_ = 0;
  std::vector<Streak> streaks_;
  std::vector<size_t> echoDestinations_;  // of the arrival being looked at
  std::set<std::pair<std::string, size_t>> reported_;
};

}  // namespace wex
