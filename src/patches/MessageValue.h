#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "host/Value.h"
#include "midi/OrvMIDIMessage.h"

namespace wex {

// The four fields a message number carries.
struct MessageNumberParts {
  uint8_t type = 0;
  uint8_t channel = 0;
  uint8_t data1 = 0;
  uint8_t data2 = 0;
};

// Messages as values on patch ports. A message number,
// (type|channel)<<16 | data1<<8 | data2, carries every message but system
// exclusive; a sysex string, the decimal data bytes joined by ",", carries
// system exclusive.
class MessageValue {
 public:
  static Value write(const OrvMIDIMessage& message);

  // The message a value stands for; null when it stands for none (then
  // `whyNot`, when given, receives the reason in words).
  static OrvMIDIMessagePtr read(const Value& value, std::string* whyNot = nullptr);

  // The fields of a message number; only its low 24 bits count. A channel
  // status byte gives type (high nibble) and channel (low nibble); any other
  // system status gives type = the whole status byte and channel 0. Data bytes
  // keep their low 7 bits. Nothing for a status byte that no message number
  // can carry: below 0x80 (none at all), 0xF0 and 0xF7 (system exclusive).
  static std::optional<MessageNumberParts> split(uint64_t number);

  // The message of a value that is a sysex too long for one packet list,
  // which a sender patch does not send and a sender node sends in pieces;
  // null for any other value.
  static OrvMIDIMessagePtr readLongSysex(const Value& value);

  // A number or index value as a message number; nothing for a negative,
  // not finite or too large number, and for values of any other kind.
  static std::optional<uint64_t> messageNumber(const Value& value);

 private:
  static OrvMIDIMessagePtr readNumber(const Value& value, std::string* whyNot);
  static OrvMIDIMessagePtr readSysexString(const std::string& text, std::string* whyNot);
};

}  // namespace wex
