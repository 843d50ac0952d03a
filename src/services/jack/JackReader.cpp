#include "services/jack/JackReader.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "services/jack/JackCycleClock.h"
#include "services/jack/JackProcessTable.h"
#include "support/RealtimeThreads.h"

namespace wex {

namespace {

constexpr size_t kMaxPacketLength = 0xFFFF;
// Room for a whole ring of events, each a packet of its own.
constexpr ByteCount kPacketListCapacity = 4 + JackInputStream::kRingCapacity * 2;

}  // namespace

JackReader::JackReader(JackWakeSignal& inputArrived, CallbackGate& gate, Streams streams)
    : inputArrived_(inputArrived),
      gate_(gate),
      streams_(std::move(streams)),
      packets_(kPacketListCapacity),
      jackClockOffset_(steadyMinusJackNanoseconds()) {}

JackReader::~JackReader() {
  stop();
}

void JackReader::start() {
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
}

void JackReader::stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  inputArrived_.notify();
  thread_.join();
}

void JackReader::run() {
  RealtimeThreads::Enrollment enrollment(RealtimeThreads::Role::reader);
  while (!stopping_.load()) {
    inputArrived_.wait(std::chrono::milliseconds(100));
    if (stopping_.load()) break;
    busy_ = true;
    for (const auto& stream : streams_()) drain(*stream);
    busy_ = false;
    passes_.post();
  }
}

void JackReader::drain(JackInputStream& stream) {
  constexpr uint32_t kHead = JackProcessTable::kArrivalTimeSize;
  packets_.clear();
  for (uint32_t length = stream.ring.nextFrameLength(); length != 0;
       length = stream.ring.nextFrameLength()) {
    frame_.resize(length);
    stream.ring.readFrame(frame_.data());
    if (length <= kHead) continue;
    const MIDITimeStamp time = arrivalTime(frame_.data());
    for (size_t offset = kHead; offset < length; offset += kMaxPacketLength) {
      const size_t chunk = std::min(kMaxPacketLength, length - offset);
      if (!packets_.addPacket(frame_.data() + offset, chunk, time)) {
        deliver(stream);
        packets_.addPacket(frame_.data() + offset, chunk, time);
      }
    }
  }
  deliver(stream);
}

MIDITimeStamp JackReader::arrivalTime(const Byte* frame) const {
  jack_time_t jackTime = 0;
  std::memcpy(&jackTime, frame, sizeof jackTime);
  const int64_t time = static_cast<int64_t>(jackTime) * 1000 + jackClockOffset_;
  return time > 0 ? static_cast<MIDITimeStamp>(time) : 1;
}

void JackReader::deliver(JackInputStream& stream) {
  if (packets_.packetCount() == 0) return;
  gate_.run(stream.client, [&] {
    if (stream.alive.load() && stream.readProc)
      stream.readProc(packets_.list(), stream.refCon, stream.connRefCon);
  });
  packets_.clear();
}

}  // namespace wex
