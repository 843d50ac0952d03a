#include <algorithm>
#include <chrono>
#include <cstring>

#include "services/MIDIPacketList.h"
#include "services/jack/JackCycleClock.h"
#include "services/jack/JackMIDIServices.h"

namespace wex {

namespace {

using Clock = JackProgressSignal::Clock;

// How long a message waits for room in a full ring before it is dropped.
constexpr auto kRoomWait = std::chrono::seconds(1);

// How far ahead of the call a packet's time stamp may place its events: a
// later one would hold back all that is sent after it.
constexpr jack_time_t kLatestMoment = 1'000'000;

// The messages of one send, whole, as the splitter cut them, with the
// moment of each; kept per thread so that sending allocates only while the
// buffers grow.
struct CutMessages {
  std::vector<Byte> bytes;
  std::vector<uint32_t> lengths;
  std::vector<jack_time_t> moments;
};
thread_local CutMessages tCut;

// The moment, on JACK's clock, whose place the events of a packet with that
// time stamp keep, going out a period after it: the call's, `now`, for a
// packet stamped 0, else a period before the time the stamp asks for.
jack_time_t momentOf(MIDITimeStamp stamp, jack_time_t now, jack_time_t period) {
  if (stamp == 0) return now;
  const int64_t asked = (static_cast<int64_t>(stamp) - steadyMinusJackNanoseconds()) / 1000 -
                        static_cast<int64_t>(period);
  if (asked <= 0) return 0;
  return std::min(static_cast<jack_time_t>(asked), now + kLatestMoment);
}

// Writes one message into the ring; while the ring is full, lets go of the
// writers' lock and waits for a cycle to take from it.
bool writeWhenRoom(JackOutputStream& stream, std::unique_lock<std::mutex>& writing,
                   JackProgressSignal& cycleEnded, jack_time_t moment, const Byte* data,
                   uint32_t length) {
  const auto deadline = Clock::now() + kRoomWait;
  Byte head[JackProcessTable::kMomentSize];
  std::memcpy(head, &moment, sizeof head);
  for (;;) {
    const uint32_t seen = cycleEnded.count();
    if (stream.ring.writeFrame(head, sizeof head, data, length)) return true;
    if (Clock::now() >= deadline) return false;
    writing.unlock();
    cycleEnded.waitPast(seen, deadline);
    writing.lock();
  }
}

}  // namespace

OSStatus JackMIDIServices::MIDISend(MIDIPortRef portRef, MIDIEndpointRef dest,
                                    const MIDIPacketList* pktlist) {
  std::shared_ptr<JackOutputStream> stream;
  {
    std::lock_guard lock(mutex_);
    const ClientTable::Port* port = clients_.port(portRef);
    if (!port || port->isInput) return kMIDIInvalidPort;
    const JackEndpoint* endpoint = endpoints_.find(dest);
    if (!endpoint) return kMIDIUnknownEndpoint;
    if (endpoint->isSource) return kMIDIWrongEndpointType;
    if (!pktlist) return kMIDIMessageSendErr;
    // A destination whose client has gone stays listed, offline, until it is
    // back; what is sent to it meanwhile would be lost without a word.
    if (jack_ && !endpoint->present) return kMIDIUnknownEndpoint;
    stream = outputStreamTo(port->portOwner, dest);
    if (!jack_) {
      droppedWhileAway_.fetch_add(1);
      return noErr;
    }
  }
  return writeMessages(*stream, portRef, pktlist);
}

OSStatus JackMIDIServices::MIDIReceived(MIDIEndpointRef src, const MIDIPacketList* pktlist) {
  std::shared_ptr<JackOutputStream> stream;
  {
    std::lock_guard lock(mutex_);
    for (const auto& candidate : outputs_) {
      if (!candidate->isPrivate && candidate->endpoint == src) stream = candidate;
    }
    if (!stream) {
      // Only our own virtual sources can be published on.
      const JackEndpoint* endpoint = endpoints_.find(src);
      if (!endpoint) return kMIDIUnknownEndpoint;
      return endpoint->isSource ? kMIDINotPermitted : kMIDIWrongEndpointType;
    }
    if (!pktlist) return kMIDIMessageSendErr;
    if (!jack_) {
      droppedWhileAway_.fetch_add(1);
      return noErr;
    }
  }
  return writeMessages(*stream, 0, pktlist);
}

// The list is cut into whole messages first (the splitter is the port's, so
// under the writers' lock), then written in order. A message that finds no
// room within kRoomWait is dropped, and so is the rest of the list.
OSStatus JackMIDIServices::writeMessages(JackOutputStream& stream, MIDIPortRef port,
                                         const MIDIPacketList* pktlist) {
  CutMessages& cut = tCut;
  cut.bytes.clear();
  cut.lengths.clear();
  cut.moments.clear();
  const jack_time_t now = jack_get_time();
  const jack_time_t period = processTable_.period();
  std::unique_lock writing(stream.writeMutex);
  JackMessageSplitter& splitter = stream.splitters[port];
  splitter.setMaxEventLength(processTable_.maxEventLength());
  MIDIPacketIterator packets(pktlist);
  MIDIPacketView packet;
  while (packets.next(packet)) {
    const jack_time_t moment = momentOf(packet.timeStamp, now, period);
    splitter.feed(packet.data, packet.length, [&](const Byte* data, size_t length) {
      cut.bytes.insert(cut.bytes.end(), data, data + length);
      cut.lengths.push_back(static_cast<uint32_t>(length));
      cut.moments.push_back(moment);
    });
  }
  OSStatus status = noErr;
  size_t offset = 0;
  for (size_t i = 0; i < cut.lengths.size(); ++i) {
    const uint32_t length = cut.lengths[i];
    const Byte* data = cut.bytes.data() + offset;
    offset += length;
    if (status == noErr &&
        !writeWhenRoom(stream, writing, processTable_.cycleEnded(), cut.moments[i], data, length)) {
      status = kMIDIMessageSendErr;
    }
    if (status != noErr) stream.dropped.fetch_add(1);
  }
  return status;
}

// Waits for the output rings to empty, for the cycle that took the last bytes
// and the one after it (the receiving clients have had them then), and for
// the reader to have handed everything that came in to the callbacks. A
// server that went away meanwhile may have taken the bytes without handing
// them on, and what was sent while it was away went nowhere: that is no
// delivery.
bool JackMIDIServices::waitUntilDelivered(double timeoutSeconds) {
  const bool delivered = waitForDelivery(timeoutSeconds);
  const uint64_t losses = serverLosses_.load();
  return lossesSeenByWait_.exchange(losses) == losses && delivered;
}

bool JackMIDIServices::waitForDelivery(double timeoutSeconds) {
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(std::clamp(timeoutSeconds, 0.0, 1e6)));
  JackProgressSignal& cycleEnded = processTable_.cycleEnded();
  auto outputsDrained = [&] {
    std::lock_guard lock(mutex_);
    return !jack_ || std::all_of(outputs_.begin(), outputs_.end(),
                                 [](const auto& stream) { return stream->ring.empty(); });
  };
  if (!cycleEnded.waitUntil(outputsDrained, deadline)) return false;
  const uint64_t cycle = processTable_.cycles();
  auto twoCyclesLater = [&] { return processTable_.cycles() >= cycle + 2 || serverAway(); };
  if (!cycleEnded.waitUntil(twoCyclesLater, deadline)) return false;
  auto inputsDelivered = [&] {
    std::lock_guard lock(mutex_);
    const bool ringsEmpty = std::all_of(inputs_.begin(), inputs_.end(),
                                        [](const auto& stream) { return stream->ring.empty(); });
    return ringsEmpty && !reader_.busy();
  };
  return reader_.passes().waitUntil(inputsDelivered, deadline);
}

}  // namespace wex
