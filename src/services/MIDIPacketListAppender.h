#pragma once

#include <cstdint>
#include <cstring>

#include "services/MIDIStatus.h"
#include "services/MIDITypes.h"

namespace wex {

// Appends events to a packet list, keeping the place of the open packet and
// the room left, so that adding a short event at the open packet's time costs
// a comparison and a few stores instead of reading the list again. It builds
// the same lists as MIDIPacketListInit and MIDIPacketListAdd: consecutive
// events with the same time stamp share a packet unless either of them is
// system exclusive.
class MIDIPacketListAppender {
 public:
  MIDIPacketListAppender() = default;
  // Takes `list` (listSize bytes, at least the count) and empties it.
  MIDIPacketListAppender(MIDIPacketList* list, ByteCount listSize)
      : list_(reinterpret_cast<Byte*>(list)), size_(listSize) {
    clear();
  }

  const MIDIPacketList* list() const { return reinterpret_cast<const MIDIPacketList*>(list_); }
  bool empty() const { return count_ == 0; }

  // Empties the list.
  void clear() {
    count_ = 0;
    storeCount();
    open_ = nullptr;
    openRoom_ = 0;
    end_ = kMIDIPacketListHeaderSize;
  }

  // Room for an event of `length` bytes at `time`, which the caller writes at
  // once; `sysex` when the event is a system exclusive message. Null when
  // the list has no room left (the list is then as it was).
  Byte* reserveEvent(MIDITimeStamp time, ByteCount length, bool sysex) {
    // 1 <= length <= openRoom_: an empty event never joins a packet.
    if (time == openTime_ && length - 1 < openRoom_ && !sysex) {
      Byte* at = list_ + end_;
      end_ += length;
      openRoom_ -= length;
      openLength_ = static_cast<uint16_t>(openLength_ + length);
      std::memcpy(open_ + kLengthOffset, &openLength_, sizeof openLength_);
      return at;
    }
    return reservePacket(time, length, sysex);
  }

  // A run of short events joining the open packet, for a loop that appends
  // many: where the next event goes and the room for it, as plain values
  // that stay in registers while the loop writes bytes. Each event of
  // `length` <= room is written at `at`, after which the caller adds length
  // to `at` and takes it from `room`; it may write up to kRunSlack bytes
  // past the event, which the room keeps free inside the list. No other call
  // may come between beginRun and endRun. Room 0 when events at `time` do
  // not join the open packet.
  struct Run {
    Byte* at;
    ByteCount room;
  };
  static constexpr ByteCount kRunSlack = 3;
  Run beginRun(MIDITimeStamp time) const {
    Byte* at = list_ + end_;
    if (time != openTime_ || openRoom_ <= kRunSlack) return {at, 0};
    return {at, openRoom_ - kRunSlack};
  }
  // Takes the events the run wrote into the open packet.
  void endRun(const Run& run) {
    const auto used = static_cast<ByteCount>(run.at - (list_ + end_));
    if (used == 0) return;
    end_ += used;
    openRoom_ -= used;
    openLength_ = static_cast<uint16_t>(openLength_ + used);
    std::memcpy(open_ + kLengthOffset, &openLength_, sizeof openLength_);
  }

  // Like reserveEvent, but the event always starts a packet of its own.
  Byte* reservePacket(MIDITimeStamp time, ByteCount length, bool sysex);

  // Copies the bytes in as an event; false when there is no room.
  bool add(MIDITimeStamp time, const Byte* data, ByteCount length) {
    if (length == 0) return false;
    Byte* at = reserveEvent(time, length, data[0] == kMIDISysexStart);
    if (!at) return false;
    std::memcpy(at, data, length);
    return true;
  }

 private:
  static constexpr ByteCount kLengthOffset = sizeof(MIDITimeStamp);
  static constexpr ByteCount kMaxPacketLength = 0xFFFF;

  void storeCount() { std::memcpy(list_, &count_, sizeof count_); }

  Byte* list_ = nullptr;
  ByteCount size_ = 0;
  ByteCount end_ = 0;     // offset of the first free byte
  Byte* open_ = nullptr;  // the packet added last; null in an empty list
  MIDITimeStamp openTime_ = 0;
  uint16_t openLength_ = 0;
  // Bytes that events may still add to the open packet: 0 for none, for a
  // system exclusive one, and when the list or the packet's length is full.
  ByteCount openRoom_ = 0;
  uint32_t count_ = 0;
};

}  // namespace wex
