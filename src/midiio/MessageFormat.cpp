#include "midiio/MessageFormat.h"

#include <array>
#include <charconv>
#include <cstring>
#include <string_view>

namespace wex {

namespace {

using namespace std::string_view_literals;

char* writeNumber(char* at, uint32_t number) {
  return std::to_chars(at, at + 16, number).ptr;
}

char* writeText(char* at, std::string_view text) {
  std::memcpy(at, text.data(), text.size());
  return at + text.size();
}

struct ChannelText {
  std::string_view label;  // "NoteOn, ch."
  std::string_view name1;  // ", note."
  bool second;             // ", val." and data2 follow
};

// By the high nibble of a channel status, 0x8 to 0xE.
constexpr std::array<ChannelText, 7> kChannelTexts{{
    {"NoteOff, ch."sv, ", note."sv, true},
    {"NoteOn, ch."sv, ", note."sv, true},
    {"AfterTouch, ch."sv, ", note."sv, true},
    {"Ctrl, ch."sv, ", ctrl."sv, true},
    {"PgmChange, ch."sv, ", pgm."sv, false},
    {"ChannelPressure, ch."sv, ", val."sv, false},
    {"PitchWheel, ch."sv, ", val."sv, false},
}};

// "LABEL, ch.C, NAME1.D1" and ", val.D2" for the types with two data bytes;
// a pitch wheel shows its two data bytes as one 14-bit value.
char* writeChannelText(char* at, const OrvMIDIMessage& message) {
  const ChannelText& text = kChannelTexts[(message.type() >> 4) - 8];
  at = writeNumber(writeText(at, text.label), message.channel());
  at = writeText(at, text.name1);
  if (message.type() == kMIDIPitchBend) {
    return writeNumber(at, uint32_t(message.data2()) << 7 | message.data1());
  }
  at = writeNumber(at, message.data1());
  if (!text.second) return at;
  return writeNumber(writeText(at, ", val."sv), message.data2());
}

// The text of each system status, F1 to FF, that has one of its own; the
// song position and quarter frame add their value. Empty for sysex and F7.
constexpr std::array<std::string_view, 16> kSystemTexts{
    ""sv,
    "Quarter-Frame: "sv,
    "Song Pos'n ptr: "sv,
    "Song Select: "sv,
    "Undefined common"sv,
    "Undefined common 2"sv,
    "Tune Request"sv,
    ""sv,
    "Clock"sv,
    "Tick"sv,
    "Start"sv,
    "Continue"sv,
    "Stop"sv,
    "Undefined Realtime"sv,
    "Active Sense"sv,
    "MIDI Reset"sv,
};

// The text of a message other than a sysex; null for a type without one.
char* writeMessageText(char* at, const OrvMIDIMessage& message) {
  const uint8_t type = message.type();
  if (type < kMIDIFirstSystem) {
    return type >= kMIDINoteOff ? writeChannelText(at, message) : nullptr;
  }
  const std::string_view text = kSystemTexts[type - kMIDIFirstSystem];
  if (text.empty()) return nullptr;
  at = writeText(at, text);
  switch (type) {
    case kMIDIQuarterFrame:
    case kMIDISongSelect:
      return writeNumber(at, message.data1());
    case kMIDISongPosition:
      return writeNumber(at, uint32_t(message.data2()) << 7 | message.data1());
    default:
      return at;
  }
}

char* writeMessageNumber(char* at, const OrvMIDIMessage& message) {
  const uint32_t status = (message.type() | message.channel()) & 0xFF;
  return writeNumber(at, status * 65536u + message.data1() * 256u + message.data2());
}

void appendList(std::string& line, const std::vector<int32_t>* array, std::string_view separator) {
  if (!array) return;
  for (size_t i = 0; i < array->size(); ++i) {
    if (i > 0) line += separator;
    std::array<char, 16> digits;
    line.append(digits.data(),
                std::to_chars(digits.data(), digits.data() + digits.size(), (*array)[i]).ptr);
  }
}

}  // namespace

char* MessageFormat::writePlain(char* at, const OrvMIDIMessage& message) {
  if (message.type() == kMIDISysexStart) return nullptr;
  char* text = writeMessageNumber(at, message);
  *text++ = '\t';
  return writeMessageText(text, message);
}

size_t MessageFormat::maxSysexLength(const OrvMIDIMessage& message) {
  // Each element at most 11 characters and a separator of two, twice.
  const auto* sysex = message.sysexArray();
  return 32 + (sysex ? sysex->size() * 26 : 0);
}

char* MessageFormat::writeSysex(char* at, const OrvMIDIMessage& message) {
  const auto* sysex = message.sysexArray();
  if (message.type() != kMIDISysexStart || !sysex) return nullptr;
  char* const value = at;
  for (size_t i = 0; i < sysex->size(); ++i) {
    if (i > 0) *at++ = ',';
    at = std::to_chars(at, at + 11, (*sysex)[i]).ptr;
  }
  const size_t valueLength = static_cast<size_t>(at - value);
  at = writeText(at, "\tSysex: ("sv);
  // The text repeats the value with a space after each comma.
  for (const char* c = value; c != value + valueLength; ++c) {
    *at++ = *c;
    if (*c == ',') *at++ = ' ';
  }
  *at++ = ')';
  return at;
}

void MessageFormat::appendNumber(std::string& line, uint64_t number) {
  std::array<char, 24> digits;
  const auto result = std::to_chars(digits.data(), digits.data() + digits.size(), number);
  line.append(digits.data(), result.ptr);
}

void MessageFormat::appendValue(std::string& line, const OrvMIDIMessage& message) {
  if (message.type() == kMIDISysexStart) {
    appendList(line, message.sysexArray(), ","sv);
    return;
  }
  std::array<char, 16> digits;
  line.append(digits.data(), writeMessageNumber(digits.data(), message));
}

void MessageFormat::appendText(std::string& line, const OrvMIDIMessage& message) {
  if (message.type() == kMIDISysexStart) {
    line += "Sysex: ";
    if (!message.sysexArray()) {
      line += "(null)";
      return;
    }
    line += '(';
    appendList(line, message.sysexArray(), ", "sv);
    line += ')';
    return;
  }
  std::array<char, kMaxPlainLength> text;
  if (char* end = writeMessageText(text.data(), message)) {
    line.append(text.data(), end);
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
