#pragma once

#include <cstddef>
#include <cstdint>

#include "services/MIDITypes.h"

namespace wex::bench {

// One parsed message: the status byte and up to two data bytes, or a system
// exclusive message as a range of the parser's sysex buffer.
struct MinimalMessage {
  Byte status = 0;
  Byte data1 = 0xFF;
  Byte data2 = 0xFE;
  uint32_t sysexOffset = 0;
  uint32_t sysexLength = 0;
};

// The least a parser can do, as a yardstick: a state machine over bytes that
// writes messages into arrays it is given and allocates nothing. Messages are
// listed at their status byte (a sysex at its end); realtime bytes interrupt
// nothing; no running status; a sysex longer than its buffer is dropped.
class MinimalMIDIParser {
 public:
  MinimalMIDIParser(MinimalMessage* messages, size_t messageCapacity, Byte* sysex,
                    size_t sysexCapacity)
      : messages_(messages),
        messageCapacity_(messageCapacity),
        sysex_(sysex),
        sysexCapacity_(sysexCapacity) {}

  void parse(const Byte* bytes, size_t length);

  // Forgets the listed messages (and the bytes of completed sysex messages),
  // as at the start of a new packet list; an open sysex stays open.
  void clearOutput();

  size_t count() const { return count_; }
  const MinimalMessage& message(size_t i) const { return messages_[i]; }
  const Byte* sysexBytes() const { return sysex_; }

 private:
  void statusByte(Byte b);
  void dataByte(Byte b);
  MinimalMessage* append(Byte status);

  MinimalMessage* messages_;
  size_t messageCapacity_;
  Byte* sysex_;
  size_t sysexCapacity_;
  size_t count_ = 0;
  MinimalMessage* current_ = nullptr;
  int dataBytes_ = 0;
  bool inSysex_ = false;
  bool sysexOverflow_ = false;
  size_t sysexStart_ = 0;
  size_t sysexEnd_ = 0;
};

}  // namespace wex::bench
