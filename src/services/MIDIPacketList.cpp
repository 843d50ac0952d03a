#include "services/MIDIPacketList.h"

#include <cstring>
#include <limits>

namespace wex {

namespace {

Byte* bytesOf(MIDIPacketList* list) {
  return reinterpret_cast<Byte*>(list);
}
const Byte* bytesOf(const MIDIPacketList* list) {
  return reinterpret_cast<const Byte*>(list);
}
Byte* bytesOf(MIDIPacket* packet) {
  return reinterpret_cast<Byte*>(packet);
}

template <class T>
T load(const Byte* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <class T>
void store(Byte* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

// Short events are copied byte by byte: for a channel message, a call to
// memcpy costs more than the copy itself.
void copyBytes(Byte* to, const Byte* from, ByteCount count) {
  switch (count) {
    case 3:
      to[2] = from[2];
      [[fallthrough]];
    case 2:
      to[1] = from[1];
      [[fallthrough]];
    case 1:
      to[0] = from[0];
      [[fallthrough]];
    case 0:
      return;
    default:
      std::memcpy(to, from, count);
  }
}

uint32_t countOf(const Byte* list) {
  return load<uint32_t>(list);
}
MIDITimeStamp timeOf(const Byte* packet) {
  return load<MIDITimeStamp>(packet);
}
uint16_t lengthOf(const Byte* packet) {
  return load<uint16_t>(packet + 8);
}

MIDIPacket* addBytes(MIDIPacketList* pktlist, ByteCount listSize, MIDIPacket* curPacket,
                     MIDITimeStamp time, ByteCount nData, const Byte* data, bool mayMerge) {
  if (!pktlist || !curPacket || (nData > 0 && !data)) return nullptr;
  Byte* list = bytesOf(pktlist);
  Byte* current = bytesOf(curPacket);
  const uint32_t count = countOf(list);
  if (current < list + kMIDIPacketListHeaderSize || current > list + listSize) return nullptr;

  if (count > 0) {
    const uint16_t length = lengthOf(current);
    const Byte* currentData = current + kMIDIPacketHeaderSize;
    const bool sysex = (length > 0 && currentData[0] == 0xF0) || (nData > 0 && data[0] == 0xF0);
    const ByteCount end = static_cast<ByteCount>(current - list) + kMIDIPacketHeaderSize + length;
    if (mayMerge && !sysex && timeOf(current) == time && length + nData <= 0xFFFF &&
        end + nData <= listSize) {
      copyBytes(list + end, data, nData);
      store<uint16_t>(current + 8, static_cast<uint16_t>(length + nData));
      return curPacket;
    }
    current = list + end;
  }
  if (nData > 0xFFFF) return nullptr;
  const ByteCount start = static_cast<ByteCount>(current - list);
  if (start > listSize || listSize - start < kMIDIPacketHeaderSize + nData) return nullptr;
  store<MIDITimeStamp>(current, time);
  store<uint16_t>(current + 8, static_cast<uint16_t>(nData));
  copyBytes(current + kMIDIPacketHeaderSize, data, nData);
  store<uint32_t>(list, count + 1);
  return reinterpret_cast<MIDIPacket*>(current);
}

}  // namespace

MIDIPacket* MIDIPacketListInit(MIDIPacketList* pktlist) {
  store<uint32_t>(bytesOf(pktlist), 0);
  return reinterpret_cast<MIDIPacket*>(bytesOf(pktlist) + kMIDIPacketListHeaderSize);
}

MIDIPacket* MIDIPacketListAddEvent(MIDIPacketList* pktlist, ByteCount listSize,
                                   MIDIPacket* curPacket, MIDITimeStamp time, ByteCount nData,
                                   const Byte* data) {
  return addBytes(pktlist, listSize, curPacket, time, nData, data, true);
}

MIDIPacket* MIDIPacketListAddPacket(MIDIPacketList* pktlist, ByteCount listSize,
                                    MIDIPacket* curPacket, MIDITimeStamp time, ByteCount nData,
                                    const Byte* data) {
  return addBytes(pktlist, listSize, curPacket, time, nData, data, false);
}

uint32_t MIDIPacketListCount(const MIDIPacketList* pktlist) {
  return countOf(bytesOf(pktlist));
}

ByteCount MIDIPacketListByteSize(const MIDIPacketList* pktlist) {
  const Byte* list = bytesOf(pktlist);
  ByteCount size = kMIDIPacketListHeaderSize;
  for (uint32_t i = 0, count = countOf(list); i < count; ++i) {
    size += kMIDIPacketHeaderSize + lengthOf(list + size);
  }
  return size;
}

MIDIPacketIterator::MIDIPacketIterator(const MIDIPacketList* pktlist)
    : position_(bytesOf(pktlist) + kMIDIPacketListHeaderSize), count_(countOf(bytesOf(pktlist))) {}

bool MIDIPacketIterator::next(MIDIPacketView& packet) {
  if (index_ >= count_) return false;
  packet.timeStamp = timeOf(position_);
  packet.length = lengthOf(position_);
  packet.data = position_ + kMIDIPacketHeaderSize;
  position_ += kMIDIPacketHeaderSize + packet.length;
  ++index_;
  return true;
}

}  // namespace wex
