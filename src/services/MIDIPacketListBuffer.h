#pragma once

#include <vector>

#include "services/MIDIPacketList.h"

namespace wex {

// An owned packet list of a fixed capacity, for code that builds lists to
// feed in (tests, device sources, the program) rather than for senders.
class MIDIPacketListBuffer {
 public:
  explicit MIDIPacketListBuffer(ByteCount capacity = 1024);

  void clear();

  // Appends an event; events at the same time may share a packet
  // (MIDIPacketListAdd). False when there is no room.
  bool add(const Byte* data, ByteCount length, MIDITimeStamp time = 0);
  // Appends the bytes as a packet of their own. False when there is no room.
  bool addPacket(const Byte* data, ByteCount length, MIDITimeStamp time = 0);
  bool addPacket(const std::vector<Byte>& bytes, MIDITimeStamp time = 0) {
    return addPacket(bytes.data(), bytes.size(), time);
  }

  const MIDIPacketList* list() const;
  MIDIPacketList* list();
  ByteCount capacity() const { return bytes_.size(); }
  ByteCount byteSize() const;
  uint32_t packetCount() const;

 private:
  std::vector<Byte> bytes_;
  MIDIPacket* current_ = nullptr;
};

}  // namespace wex
