#include "midi/OrvMIDIMessage.h"

#include <cstdio>

#include "midi/OrvMIDIMessagePool.h"
#include "services/MIDIStatus.h"
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

OrvMIDIMessage::OrvMIDIMessage(Key, std::vector<int32_t> sysex)
    : OrvMIDIMessage(Key(), kMIDISysexStart, 0xFF, 0xFF, 0xFF) {
  sysex_ = std::move(sysex);
}

OrvMIDIMessagePtr OrvMIDIMessage::createWithSysexArray(const std::vector<int32_t>* array) {
  if (!array || array->empty() || !sysexElementsFit(*array)) {
    SystemLog::writef("\t\terr: %s - BAIL", kSysexInitName);
    return nullptr;
  }
  return make(*array);
}

OrvMIDIMessagePtr OrvMIDIMessage::createWithSysexArray(const std::vector<int32_t>& array) {
  return createWithSysexArray(&array);
}

OrvMIDIMessagePtr OrvMIDIMessage::createWithParsedSysex(const std::vector<int32_t>& dataBytes) {
  if (dataBytes.empty()) {
    SystemLog::writef("\t\terr: %s - BAIL", kSysexInitName);
    return nullptr;
  }
  return make(dataBytes);
}

OrvMIDIMessagePtr OrvMIDIMessage::copy() const {
  if (type_ == kMIDISysexStart) return createWithSysexArray(sysexArray());
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
    case kMIDINoteOff:
      return format("NoteOff, ch.%ld, note.%ld, val.%ld", channel, data1, data2);
    case kMIDINoteOn:
      return format("NoteOn, ch.%ld, note.%ld, val.%ld", channel, data1, data2);
    case kMIDIPolyPressure:
      return format("AfterTouch, ch.%ld, note.%ld, val.%ld", channel, data1, data2);
    case kMIDIControlChange:
      return format("Ctrl, ch.%ld, ctrl.%ld, val.%ld", channel, data1, data2);
    case kMIDIProgramChange:
      return format("PgmChange, ch.%ld, pgm.%ld", channel, data1);
    case kMIDIChannelPressure:
      return format("ChannelPressure, ch.%ld, val.%ld", channel, data1);
    case kMIDIPitchBend:
      return format("PitchWheel, ch.%ld, val.%ld", channel, fourteenBits);
    case kMIDISysexStart:
      return "Sysex: " + renderList(sysexArray());
    case kMIDIQuarterFrame:
      return format("Quarter-Frame: %ld", data1);
    case kMIDISongPosition:
      return format("Song Pos'n ptr: %ld", fourteenBits);
    case kMIDISongSelect:
      return format("Song Select: %ld", data1);
    case kMIDIUndefinedCommon1:
      return "Undefined common";
    case kMIDIUndefinedCommon2:
      return "Undefined common 2";
    case kMIDITuneRequest:
      return "Tune Request";
    case kMIDIClock:
      return "Clock";
    case kMIDITick:
      return "Tick";
    case kMIDIStart:
      return "Start";
    case kMIDIContinue:
      return "Continue";
    case kMIDIStop:
      return "Stop";
    case kMIDIUndefinedRealtime:
      return "Undefined Realtime";
    case kMIDIActiveSensing:
      return "Active Sense";
    case kMIDISystemReset:
      return "MIDI Reset";
    default:
      return std::nullopt;
  }
}

size_t OrvMIDIMessage::writeSysexWireBytes(Byte* out) const {
  size_t length = 0;
  out[length++] = kMIDISysexStart;
  if (sysex_) {
    for (int32_t value : *sysex_) out[length++] = static_cast<Byte>(value & 0xFF);
  }
  out[length++] = kMIDISysexEnd;
  return length;
}

}  // namespace wex
