#include "services/MIDIPacketListBuffer.h"

namespace wex {

MIDIPacketListBuffer::MIDIPacketListBuffer(ByteCount capacity)
    : bytes_(capacity < kMIDIPacketListHeaderSize ? kMIDIPacketListHeaderSize : capacity) {
  clear();
}

void MIDIPacketListBuffer::clear() {
  current_ = MIDIPacketListInit(list());
}

bool MIDIPacketListBuffer::add(const Byte* data, ByteCount length, MIDITimeStamp time) {
  MIDIPacket* added = MIDIPacketListAdd(list(), bytes_.size(), current_, time, length, data);
  if (!added) return false;
  current_ = added;
  return true;
}

bool MIDIPacketListBuffer::addPacket(const Byte* data, ByteCount length, MIDITimeStamp time) {
  MIDIPacket* added = MIDIPacketListAddPacket(list(), bytes_.size(), current_, time, length, data);
  if (!added) return false;
  current_ = added;
  return true;
}

const MIDIPacketList* MIDIPacketListBuffer::list() const {
  return reinterpret_cast<const MIDIPacketList*>(bytes_.data());
}

MIDIPacketList* MIDIPacketListBuffer::list() {
  return reinterpret_cast<MIDIPacketList*>(bytes_.data());
}

ByteCount MIDIPacketListBuffer::byteSize() const {
  return MIDIPacketListByteSize(list());
}

uint32_t MIDIPacketListBuffer::packetCount() const {
  return MIDIPacketListCount(list());
}

}  // namespace wex
