#include "midi/OrvMIDIMessage.h"

#include <cstdio>

#include "midi/OrvMIDIMessagePool.h"
#include "support/SystemLog.h"

namespace wex {

namespace {

constexpr const char* kSysexInitName = "-[OrvMIDIMessage initWithSysexArray:]";

// Checks each element in order; logs and returns false at the first one that
// cannot go out as a data byte.
bool sysexElementsFit(const std::vector<int32_t>& array) {
  for (int32_t value : array) {
    if (value > 0x7F) {
      SystemLog::writef("\terr: bailing, val in passed sysex array (%X) was > 0x7F",
                        static_cast<unsigned>(value));
      return false;
    }
    if (value < 0) {
      SystemLog::writef("\terr: bailing, val in passed sysex array (%d) was negative", value);
      return false;
    }
  }
  return true;
}

template <class... Args>
std::string format(const char* pattern, Args... args) {
  char line[128];
  std::snprintf(line, sizeof line, pattern, args...);
  return line;
}

std::string renderList(const std::vector<int32_t>* array) {
  if (!array) return "(null)";
  std::string text = "(";
  for (size_t i = 0; i < array->size(); ++i) {
    if (i > 0) text += ", ";
    text += std::to_string((*array)[i]);
  }
  return text + ")";
}

}  // namespace

// Messages come from the pool: the read callback makes one per message.
template <class... Args>
std::shared_ptr<OrvMIDIMessage> OrvMIDIMessage::make(Args&&... args) {
  return std::allocate_shared<OrvMIDIMessage>(OrvMIDIMessagePoolAllocator<OrvMIDIMessage>(), Key(),
                                              std::forward<Args>(args)...);
}

OrvMIDIMessage::OrvMIDIMessage(Key, uint8_t type, uint8_t channel, uint8_t data1, uint8_t data2)
    : type_(type), channel_(channel), data1_(data1), data2_(data2) {}

OrvMIDIMessage::OrvMIDIMessage(Key, std::vector<int32_t> sysex)
    : type_(0xF0), channel_(0xFF), data1_(0xFF), data2_(0xFF), sysex_(std::move(sysex)) {}

std::shared_ptr<OrvMIDIMessage> OrvMIDIMessage::createWithType(uint8_t type, uint8_t channel) {
  return make(type, channel, kAbsentData1, kAbsentData2);
}

std::shared_ptr<OrvMIDIMessage> OrvMIDIMessage::createFromVals(uint8_t type, uint8_t channel,
                                                               uint8_t data1, uint8_t data2) {
  return make(type, channel, data1, data2);
}

std::shared_ptr<OrvMIDIMessage> OrvMIDIMessage::createWithSysexArray(
    const std::vector<int32_t>* array) {
  if (!array || array->empty() || !sysexElementsFit(*array)) {
    SystemLog::writef("\t\terr: %s - BAIL", kSysexInitName);
    return nullptr;
  }
  return make(*array);
}

std::shared_ptr<OrvMIDIMessage> OrvMIDIMessage::createWithSysexArray(
    const std::vector<int32_t>& array) {
  return createWithSysexArray(&array);
}

std::shared_ptr<OrvMIDIMessage> OrvMIDIMessage::copy() const {
  if (type_ == 0xF0) return createWithSysexArray(sysexArray());
  return createFromVals(type_, channel_, data1_, data2_);
}

std::string OrvMIDIMessage::description() const {
  return format("<OrvMIDIMessage: 0x%X : %d : %d : %d>", type_, channel_, data1_, data2_);
}

std::optional<std::string> OrvMIDIMessage::lengthyDescription() const {
  const long channel = channel_;
  const long data1 = data1_;
  const long data2 = data2_;
  const long fourteenBits = (data2 << 7) | data1;
  switch (type_) {
    case 0x80:
      return format("NoteOff, ch.%ld, note.%ld, val.%ld", channel, data1, data2);
    case 0x90:
      return format("NoteOn, ch.%ld, note.%ld, val.%ld", channel, data1, data2);
    case 0xA0:
      return format("AfterTouch, ch.%ld, note.%ld, val.%ld", channel, data1, data2);
    case 0xB0:
      return format("Ctrl, ch.%ld, ctrl.%ld, val.%ld", channel, data1, data2);
    case 0xC0:
      return format("PgmChange, ch.%ld, pgm.%ld", channel, data1);
    case 0xD0:
      return format("ChannelPressure, ch.%ld, val.%ld", channel, data1);
    case 0xE0:
      return format("PitchWheel, ch.%ld, val.%ld", channel, fourteenBits);
    case 0xF0:
      return "Sysex: " + renderList(sysexArray());
    case 0xF1:
      return format("Quarter-Frame: %ld", data1);
    case 0xF2:
      return format("Song Pos'n ptr: %ld", fourteenBits);
    case 0xF3:
      return format("Song Select: %ld", data1);
    case 0xF4:
      return "Undefined common";
    case 0xF5:
      return "Undefined common 2";
    case 0xF6:
      return "Tune Request";
    case 0xF8:
      return "Clock";
    case 0xF9:
      return "Tick";
    case 0xFA:
      return "Start";
    case 0xFB:
      return "Continue";
    case 0xFC:
      return "Stop";
    case 0xFD:
      return "Undefined Realtime";
    case 0xFE:
      return "Active Sense";
    case 0xFF:
      return "MIDI Reset";
    default:
      return std::nullopt;
  }
}

size_t OrvMIDIMessage::wireLength() const {
  if (type_ == 0xF0) return (sysex_ ? sysex_->size() : 0) + 2;
  return 1 + wireDataCount();
}

size_t OrvMIDIMessage::writeSysexWireBytes(Byte* out) const {
  size_t length = 0;
  out[length++] = 0xF0;
  if (sysex_) {
    for (int32_t value : *sysex_) out[length++] = static_cast<Byte>(value & 0xFF);
  }
  out[length++] = 0xF7;
  return length;
}

}  // namespace wex
