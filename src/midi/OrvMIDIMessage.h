#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "services/MIDIStatus.h"
#include "services/MIDITypes.h"

namespace wex {

// One MIDI message: a type, a channel and two data bytes, plus the data bytes
// of a system exclusive message. For a channel message `type` holds only the
// status byte's high nibble and `channel` its low nibble; a system message
// keeps its whole status byte in `type`.
class OrvMIDIMessage {
  struct Key {
    explicit Key() = default;
  };

 public:
  // Kept in data1 and data2 for the data bytes a message has not received.
  static constexpr uint8_t kAbsentData1 = 0xFF;
  static constexpr uint8_t kAbsentData2 = 0xFE;

  // A message with absent-byte markers in data1 and data2.
  static std::shared_ptr<OrvMIDIMessage> createWithType(uint8_t type, uint8_t channel);
  static std::shared_ptr<OrvMIDIMessage> createFromVals(uint8_t type, uint8_t channel,
                                                        uint8_t data1, uint8_t data2);
  // A system exclusive message holding its own copy of the bytes; null (with a
  // log line) for a null or empty list or an element outside 0 to 127.
  static std::shared_ptr<OrvMIDIMessage> createWithSysexArray(const std::vector<int32_t>* array);
  static std::shared_ptr<OrvMIDIMessage> createWithSysexArray(const std::vector<int32_t>& array);

  OrvMIDIMessage(Key, uint8_t type, uint8_t channel, uint8_t data1, uint8_t data2);
  OrvMIDIMessage(Key, std::vector<int32_t> sysex);

  uint8_t type() const { return type_; }
  uint8_t channel() const { return channel_; }
  uint8_t data1() const { return data1_; }
  uint8_t data2() const { return data2_; }
  void setType(uint8_t type) { type_ = type; }
  void setData1(uint8_t data1) { data1_ = data1; }
  void setData2(uint8_t data2) { data2_ = data2; }

  // The data bytes of a system exclusive message; null for every other one.
  const std::vector<int32_t>* sysexArray() const { return sysex_ ? &*sysex_ : nullptr; }

  // A new message with the same fields; a sysex message is validated again,
  // so a copy can be null.
  std::shared_ptr<OrvMIDIMessage> copy() const;

  std::string description() const;
  // A readable line for the known types; nothing for the others.
  std::optional<std::string> lengthyDescription() const;

  // Number of bytes the message goes out as on the wire.
  size_t wireLength() const;
  // Writes those bytes to `out` (room for wireLength() bytes); returns the count.
  // Inline for the short messages: senders call it for every message.
  size_t writeWireBytes(Byte* out) const {
    if (type_ == kMIDISysexStart) return writeSysexWireBytes(out);
    const size_t dataCount = wireDataCount();
    out[0] = static_cast<Byte>(type_ | channel_);
    // A data byte always goes out below 0x80: an absent-byte marker sent as it
    // is would reach the wire as a status byte (0xFF is a system reset).
    if (dataCount >= 1) out[1] = data1_ & kMIDIDataMask;
    if (dataCount >= 2) out[2] = data2_ & kMIDIDataMask;
    return 1 + dataCount;
  }

 private:
  template <class... Args>
  static std::shared_ptr<OrvMIDIMessage> make(Args&&... args);
  size_t wireDataCount() const { return midiDataByteCount(type_); }
  size_t writeSysexWireBytes(Byte* out) const;

  uint8_t type_;
  uint8_t channel_;
  uint8_t data1_;
  uint8_t data2_;
  std::optional<std::vector<int32_t>> sysex_;
};

}  // namespace wex
