#include "services/alsa/AlsaSender.h"

#include "services/MIDIPacketList.h"

namespace wex {

namespace {

// Our own input pool is checked once per this many events that may reach it,
// and the sender waits while less room than kSelfRoom is left.
constexpr uint64_t kSelfCheckEvery = 32;
constexpr int kSelfRoom = 256;

}  // namespace

OSStatus AlsaSender::send(const Stream& stream, int fromPort, const snd_seq_addr_t& to,
                          bool toSubscribers, const MIDIPacketList* pktlist) {
  std::lock_guard lock(mutex_);
  auto& coder = coders_[stream];
  if (!coder) coder = std::make_unique<AlsaEventCoder>();
  Target& target = targets_[stream.second];
  OSStatus status = noErr;
  auto drop = [&] {
    dropped_.fetch_add(1);
    ++target.dropped;
    target.lastDrop = Clock::now();
  };
  // Subscribers may be ports of ours; a destination is ours by its client.
  const bool mayReachUs = toSubscribers || to.client == sequencer_.clientId();
  MIDIPacketIterator packets(pktlist);
  MIDIPacketView packet;
  while (packets.next(packet)) {
    coder->encode(packet.data, packet.length, [&](snd_seq_event_t& event) {
      if (status != noErr) {
        drop();
        return true;
      }
      snd_seq_ev_set_source(&event, fromPort);
      if (toSubscribers) {
        snd_seq_ev_set_subs(&event);
      } else {
        snd_seq_ev_set_dest(&event, to.client, to.port);
      }
      snd_seq_ev_set_direct(&event);
      if (mayReachUs && mayReachUs_++ % kSelfCheckEvery == 0) {
        sequencer_.waitForInputRoom(kSelfRoom);
      }
      const auto wait =
          mayWaitFor(target, Clock::now()) ? Clock::duration(kRoomWait) : Clock::duration::zero();
      if (sequencer_.send(event, wait) < 0) {
        status = kMIDIMessageSendErr;
        drop();
      }
      return true;
    });
  }
  return status;
}

void AlsaSender::forget(MIDIObjectRef ref) {
  std::lock_guard lock(mutex_);
  for (auto it = coders_.begin(); it != coders_.end();) {
    if (it->first.first == ref || it->first.second == ref) {
      it = coders_.erase(it);
    } else {
      ++it;
    }
  }
  targets_.erase(ref);
}

std::map<MIDIObjectRef, uint64_t> AlsaSender::droppedByEndpoint() {
  std::lock_guard lock(mutex_);
  std::map<MIDIObjectRef, uint64_t> result;
  for (const auto& [ref, target] : targets_) {
    if (target.dropped != 0) result[ref] = target.dropped;
  }
  return result;
}

}  // namespace wex
