#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>

#include "services/MIDITypes.h"
#include "services/alsa/AlsaEventCoder.h"
#include "services/alsa/AlsaSequencer.h"

namespace wex {

// Sends packet lists as sequencer events. Each stream of bytes (an output
// port to a destination, or a virtual source) keeps its own coder, so a
// message cut over several lists still goes out whole. Events that cannot be
// sent are counted; a destination that stops reading loses its own events
// only.
class AlsaSender {
 public:
  // A stream of bytes: (output port, destination), or (0, virtual source).
  using Stream = std::pair<MIDIObjectRef, MIDIObjectRef>;

  explicit AlsaSender(AlsaSequencer& sequencer) : sequencer_(sequencer) {}

  // The list from our port `fromPort` to `to`, or to every subscriber of
  // `fromPort` when `toSubscribers`. kMIDIMessageSendErr when an event could
  // not be sent (it and the rest of the list are counted as dropped).
  OSStatus send(const Stream& stream, int fromPort, const snd_seq_addr_t& to, bool toSubscribers,
                const MIDIPacketList* pktlist);
  // Forgets the coders of streams from or to `ref`.
  void forget(MIDIObjectRef ref);

  uint64_t dropped() const { return dropped_.load(); }

 private:
  AlsaSequencer& sequencer_;
  std::mutex mutex_;
  std::map<Stream, std::unique_ptr<AlsaEventCoder>> coders_;
  // Streams whose destination had no room for a whole wait: until an event
  // gets through again, theirs are dropped at once rather than holding up
  // the streams to every other destination.
  std::set<Stream> stalled_;
  std::atomic<uint64_t> dropped_{0};
  uint64_t mayReachUs_ = 0;  // events sent that may come back to our own ports
};

}  // namespace wex
