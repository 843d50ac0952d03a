#include "services/embedded/EmbeddedDeviceRecording.h"

#include <chrono>

namespace wex {

void EmbeddedDeviceRecording::record(const MIDIPacketList* pktlist) {
  MIDIPacketIterator packets(pktlist);
  MIDIPacketView packet;
  {
    std::lock_guard lock(mutex_);
    while (packets.next(packet)) {
      packets_.push_back({packet.timeStamp, {packet.data, packet.data + packet.length}});
      byteCount_ += packet.length;
    }
    ++listCount_;
  }
  arrived_.notify_all();
}

std::vector<EmbeddedRecordedPacket> EmbeddedDeviceRecording::packets() const {
  std::lock_guard lock(mutex_);
  return packets_;
}

std::vector<Byte> EmbeddedDeviceRecording::bytes() const {
  std::lock_guard lock(mutex_);
  std::vector<Byte> all;
  all.reserve(byteCount_);
  for (const auto& packet : packets_)
    all.insert(all.end(), packet.bytes.begin(), packet.bytes.end());
  return all;
}

size_t EmbeddedDeviceRecording::listCount() const {
  std::lock_guard lock(mutex_);
  return listCount_;
}

void EmbeddedDeviceRecording::clear() {
  std::lock_guard lock(mutex_);
  packets_.clear();
  byteCount_ = 0;
  listCount_ = 0;
}

bool EmbeddedDeviceRecording::waitForBytes(size_t count, double timeoutSeconds) const {
  std::unique_lock lock(mutex_);
  const auto timeout = std::chrono::duration<double>(timeoutSeconds < 0 ? 0 : timeoutSeconds);
  return arrived_.wait_for(lock, timeout, [&] { return byteCount_ >= count; });
}

}  // namespace wex
