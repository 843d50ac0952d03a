#pragma once

#include <cstring>

#include "services/MIDIStatus.h"
#include "services/MIDITypes.h"

namespace wex {

// Empties the list; returns the position of its first packet.
MIDIPacket* MIDIPacketListInit(MIDIPacketList* pktlist);

// MIDIPacketListAdd without its inline shortcut.
MIDIPacket* MIDIPacketListAddEvent(MIDIPacketList* pktlist, ByteCount listSize,
                                   MIDIPacket* curPacket, MIDITimeStamp time, ByteCount nData,
                                   const Byte* data);

// Appends the bytes as an event at `time`. curPacket is the position returned
// by the previous Init or Add on this list. Consecutive events with the same
// time stamp share a packet unless either of them is system exclusive.
// Returns the position of the packet now holding the bytes, or null when the
// list (listSize bytes in all) has no room left.
//
// Inline, for senders add every short message with it: the common case, a
// channel message joining the packet before it, takes no call.
inline MIDIPacket* MIDIPacketListAdd(MIDIPacketList* pktlist, ByteCount listSize,
                                     MIDIPacket* curPacket, MIDITimeStamp time, ByteCount nData,
                                     const Byte* data) {
  auto* list = reinterpret_cast<Byte*>(pktlist);
  auto* current = reinterpret_cast<Byte*>(curPacket);
  if (list && current && data && nData >= 1 && nData <= 3 && data[0] != kMIDISysexStart &&
      current >= list + kMIDIPacketListHeaderSize &&
      current + kMIDIPacketHeaderSize <= list + listSize) {
    uint32_t count;
    uint16_t length;
    MIDITimeStamp stamp;
    std::memcpy(&count, list, sizeof count);
    std::memcpy(&length, current + 8, sizeof length);
    std::memcpy(&stamp, current, sizeof stamp);
    const auto end = static_cast<ByteCount>(current - list) + kMIDIPacketHeaderSize + length;
    if (count > 0 && length > 0 && current[kMIDIPacketHeaderSize] != kMIDISysexStart &&
        stamp == time && length + nData <= 0xFFFF && end + nData <= listSize) {
      for (ByteCount i = 0; i < nData; ++i) list[end + i] = data[i];
      length = static_cast<uint16_t>(length + nData);
      std::memcpy(current + 8, &length, sizeof length);
      return curPacket;
    }
  }
  return MIDIPacketListAddEvent(pktlist, listSize, curPacket, time, nData, data);
}

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
