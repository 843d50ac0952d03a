#include "services/MIDIPacketListAppender.h"

#include <algorithm>

namespace wex {

Byte* MIDIPacketListAppender::reservePacket(MIDITimeStamp time, ByteCount length, bool sysex) {
  if (!list_ || length > kMaxPacketLength || end_ > size_ ||
      size_ - end_ < kMIDIPacketHeaderSize + length) {
    return nullptr;
  }
  open_ = list_ + end_;
  openTime_ = time;
  openLength_ = static_cast<uint16_t>(length);

  std::memcpy(open_, &openTime_, sizeof openTime_);
  std::memcpy(open_ + kLengthOffset, &openLength_, sizeof openLength_);
  end_ += kMIDIPacketHeaderSize + length;
  openRoom_ = sysex ? 0 : std::min(size_ - end_, kMaxPacketLength - length);
  ++count_;
  storeCount();
  return open_ + kMIDIPacketHeaderSize;
}

}  // namespace wex
