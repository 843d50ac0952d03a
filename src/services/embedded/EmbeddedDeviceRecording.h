#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "services/MIDIPacketList.h"

namespace wex {

// One packet as a device destination of the embedded services received it.
struct EmbeddedRecordedPacket {
  MIDITimeStamp timeStamp = 0;
  std::vector<Byte> bytes;

  bool operator==(const EmbeddedRecordedPacket&) const = default;
};

// What a device destination of the embedded services has received, packet by
// packet, in arrival order.
class EmbeddedDeviceRecording {
 public:
  void record(const MIDIPacketList* pktlist);

  std::vector<EmbeddedRecordedPacket> packets() const;
  // The bytes of every packet, one after the other.
  std::vector<Byte> bytes() const;
  size_t listCount() const;
  void clear();

  // Waits until at least `count` bytes have arrived; false on timeout.
  bool waitForBytes(size_t count, double timeoutSeconds) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::vector<EmbeddedRecordedPacket> packets_;
  size_t byteCount_ = 0;
  size_t listCount_ = 0;
};

}  // namespace wex
