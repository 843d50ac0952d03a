#include "app/MessageFormat.h"

#include <array>
#include <charconv>

namespace wex {

namespace {

void appendSigned(std::string& line, long number) {
  std::array<char, 24> digits;
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), number);
  line.append(digits.data(), result.ptr);
}

// "LABEL, ch.C, NAME1.D1" and ", NAME2.D2" when a second name is given.
void appendChannelText(std::string& line, const char* label, const OrvMIDIMessage& message,
                       const char* name1, long value1, const char* name2 = nullptr,
                       long value2 = 0) {
  line += label;
  line += ", ch.";
  appendSigned(line, message.channel());
  line += ", ";
  line += name1;
  line += '.';
  appendSigned(line, value1);
  if (name2) {
    line += ", ";
    line += name2;
    line += '.';
    appendSigned(line, value2);
  }
}

void appendList(std::string& line, const std::vector<int32_t>* array, const char* separator) {
  if (!array) return;
  for (size_t i = 0; i < array->size(); ++i) {
    if (i > 0) line += separator;
    appendSigned(line, (*array)[i]);
  }
}

const char* fixedText(uint8_t type) {
  switch (type) {
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
      return nullptr;
  }
}

}  // namespace

void MessageFormat::appendNumber(std::string& line, uint64_t number) {
  std::array<char, 24> digits;
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), number);
  line.append(digits.data(), result.ptr);
}

void MessageFormat::appendValue(std::string& line, const OrvMIDIMessage& message) {
  if (message.type() == 0xF0) {
    appendList(line, message.sysexArray(), ",");
    return;
  }
  const uint32_t status = (message.type() | message.channel()) & 0xFF;
  appendNumber(line, status * 65536u + message.data1() * 256u + message.data2());
}

void MessageFormat::appendText(std::string& line, const OrvMIDIMessage& message) {
  const long data1 = message.data1();
  const long data2 = message.data2();
  const long fourteenBits = (data2 << 7) | data1;
  switch (message.type()) {
    case 0x80:
      return appendChannelText(line, "NoteOff", message, "note", data1, "val", data2);
    case 0x90:
      return appendChannelText(line, "NoteOn", message, "note", data1, "val", data2);
    case 0xA0:
      return appendChannelText(line, "AfterTouch", message, "note", data1, "val", data2);
    case 0xB0:
      return appendChannelText(line, "Ctrl", message, "ctrl", data1, "val", data2);
    case 0xC0:
      return appendChannelText(line, "PgmChange", message, "pgm", data1);
    case 0xD0:
      return appendChannelText(line, "ChannelPressure", message, "val", data1);
    case 0xE0:
      return appendChannelText(line, "PitchWheel", message, "val", fourteenBits);
    case 0xF0:
      line += "Sysex: ";
      if (!message.sysexArray()) {
        line += "(null)";
        return;
      }
      line += '(';
      appendList(line, message.sysexArray(), ", ");
      line += ')';
      return;
    case 0xF1:
      line += "Quarter-Frame: ";
      return appendSigned(line, data1);
    case 0xF2:
      line += "Song Pos'n ptr: ";
      return appendSigned(line, fourteenBits);
    case 0xF3:
      line += "Song Select: ";
      return appendSigned(line, data1);
    default:
      break;
  }
  if (const char* text = fixedText(message.type())) {
    line += text;
    return;
  }
  line += message.description();  // a type without a text of its own: rare
}

void MessageFormat::appendHex(std::string& line, const OrvMIDIMessage& message) {
  static const char kDigits[] = "0123456789ABCDEF";
  Byte bytes[4];
  std::vector<Byte> sysexBytes;
  Byte* wire = bytes;
  if (message.wireLength() > sizeof bytes) {
    sysexBytes.resize(message.wireLength());
    wire = sysexBytes.data();
  }
  const size_t count = message.writeWireBytes(wire);
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) line += ' ';
    line += kDigits[wire[i] >> 4];
    line += kDigits[wire[i] & 0xF];
  }
}

}  // namespace wex
