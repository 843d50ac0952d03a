#pragma once

#include "services/MIDITypes.h"

namespace wex {

// Empties the list; returns the position of its first packet.
MIDIPacket* MIDIPacketListInit(MIDIPacketList* pktlist);

// Appends the bytes as an event at `time`. curPacket is the position returned
// by the previous Init or Add on this list. Consecutive events with the same
// time stamp share a packet unless either of them is system exclusive.
// Returns the position of the packet now holding the bytes, or null when the
// list (listSize bytes in all) has no room left.
MIDIPacket* MIDIPacketListAdd(MIDIPacketList* pktlist, ByteCount listSize, MIDIPacket* curPacket,
                              MIDITimeStamp time, ByteCount nData, const Byte* data);

// Like MIDIPacketListAdd, but the bytes always start a packet of their own.
MIDIPacket* MIDIPacketListAddPacket(MIDIPacketList* pktlist, ByteCount listSize,
                                    MIDIPacket* curPacket, MIDITimeStamp time, ByteCount nData,
                                    const Byte* data);

// Number of bytes the list takes: the count and every packet.
ByteCount MIDIPacketListByteSize(const MIDIPacketList* pktlist);

uint32_t MIDIPacketListCount(const MIDIPacketList* pktlist);

// One packet as read out of a list; data points into the list.
struct MIDIPacketView {
  MIDITimeStamp timeStamp = 0;
  uint16_t length = 0;
  const Byte* data = nullptr;
};

// Walks the packets of a list in order.
class MIDIPacketIterator {
 public:
  explicit MIDIPacketIterator(const MIDIPacketList* pktlist);

  uint32_t packetCount() const { return count_; }

  // Fills `packet` with the next packet; false after the last one.
  bool next(MIDIPacketView& packet);

 private:
  const Byte* position_;
  uint32_t count_;
  uint32_t index_ = 0;
};

}  // namespace wex
