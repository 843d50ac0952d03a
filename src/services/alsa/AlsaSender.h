#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "services/MIDITypes.h"
#include "services/alsa/AlsaEventCoder.h"
#include "services/alsa/AlsaSequencer.h"

namespace wex {

// Sends packet lists as sequencer events. Each stream of bytes (an output
// port to a destination, or a virtual source) keeps its own coder, so a
// message cut over several lists still goes out whole. Events that cannot be
// sent are counted per destination; a destination that stops reading loses
// its own events only, and holds up the others for kRoomWait at most, once a
// second at most.
class AlsaSender {
 public:
  // A stream of bytes: (output port, destination), or (0, virtual source).
  using Stream = std::pair<MIDIObjectRef, MIDIObjectRef>;

  // How long a send waits for room at a destination whose pool is full
  // before it takes the destination for one that does not read.
  static constexpr std::chrono::milliseconds kRoomWait{20};
  // After a drop, what does not fit at that destination at once is dropped
  // for this long without waiting: a reader that barely reads holds up
  // nobody else.
  static constexpr std::chrono::seconds kNoWaitAfterDrop{1};

  explicit AlsaSender(AlsaSequencer& sequencer) : sequencer_(sequencer) {}

  // The list from our port `fromPort` to `to`, or to every subscriber of
  // `fromPort` when `toSubscribers`. kMIDIMessageSendErr when an event could
  // not be sent (it and the rest of the list are counted as dropped).
  OSStatus send(const Stream& stream, int fromPort, const snd_seq_addr_t& to, bool toSubscribers,
                const MIDIPacketList* pktlist);
  // Forgets the coders and drops of streams from or to `ref`.
  void forget(MIDIObjectRef ref);

  // The events dropped so far, in all.
  uint64_t dropped() const { return dropped_.load(); }
  // The events dropped so far by where they went: a destination, or our
  // virtual source whose subscribers did not take them.
  std::map<MIDIObjectRef, uint64_t> droppedByEndpoint();

 private:
  using Clock = std::chrono::steady_clock;
  // Where a stream's events go: the destination or virtual source.
  struct Target {
    uint64_t dropped = 0;
    Clock::time_point lastDrop{};
  };

  bool mayWaitFor(const Target& target, Clock::time_point now) const {
    return target.dropped == 0 || now - target.lastDrop >= kNoWaitAfterDrop;
  }

  AlsaSequencer& sequencer_;
  std::mutex mutex_;  // guards everything below
  std::map<Stream, std::unique_ptr<AlsaEventCoder>> coders_;
  std::map<MIDIObjectRef, Target> targets_;
  std::atomic<uint64_t> dropped_{0};
  uint64_t mayReachUs_ = 0;  // events sent that may come back to our own ports
};

}  // namespace wex
