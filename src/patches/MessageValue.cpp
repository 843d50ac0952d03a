#include "patches/MessageValue.h"

#include <cmath>
#include <vector>

#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDINode.h"
#include "services/MIDIStatus.h"

namespace wex {

namespace {

void explain(std::string* whyNot, std::string reason) {
  if (whyNot) *whyNot = std::move(reason);
}

std::string hexByte(unsigned value) {
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("0x") + kDigits[(value >> 4) & 0xF] + kDigits[value & 0xF];
}

bool isBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}
bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

enum class PieceResult { Ok, NoDigits, TooLarge };

// The decimal prefix of one piece: leading white space, an optional sign, then
// digits up to the first other character. A piece without digits stands for
// no byte at all, so it is refused rather than read as 0. A number beyond 32
// signed bits is refused too: no truncation of it would be the byte the
// writer meant.
PieceResult readPiece(const std::string& text, size_t begin, size_t end, int32_t& value) {
  size_t i = begin;
  while (i < end && isBlank(text[i])) ++i;
  bool negative = false;
  if (i < end && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i == end || !isDigit(text[i])) return PieceResult::NoDigits;
  const int64_t limit = negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
  int64_t magnitude = 0;
  for (; i < end && isDigit(text[i]); ++i) {
    magnitude = magnitude * 10 + (text[i] - '0');
    if (magnitude > limit) return PieceResult::TooLarge;
  }
  value = static_cast<int32_t>(negative ? -magnitude : magnitude);
  return PieceResult::Ok;
}

std::string refusedElementReason(const std::vector<int32_t>& bytes) {
  for (int32_t value : bytes) {
    if (value > 127) return "sysex byte " + std::to_string(value) + " is above 127";
    if (value < 0) return "sysex byte " + std::to_string(value) + " is negative";
  }
  return "the sysex bytes were refused";
}

}  // namespace

Value MessageValue::write(const OrvMIDIMessage& message) {
  if (message.type() == kMIDISysexStart) {
    std::string text;
    if (const auto* bytes = message.sysexArray()) {
      for (size_t i = 0; i < bytes->size(); ++i) {
        if (i > 0) text += ',';
        text += std::to_string((*bytes)[i]);
      }
    }
    return Value::string(std::move(text));
  }
  const uint32_t status = (message.type() | message.channel()) & 0xFF;
  const uint32_t number = status * 65536 + message.data1() * 256u + message.data2();
  return Value::number(number);
}

OrvMIDIMessagePtr MessageValue::read(const Value& value, std::string* whyNot) {
  if (value.isNumber() || value.isIndex()) return readNumber(value, whyNot);
  if (value.isString()) return readSysexString(value.asString(), whyNot);
  explain(whyNot, std::string("a value of kind ") + Value::typeName(value.type()) +
                      " is not a message value");
  return nullptr;
}

std::optional<uint64_t> MessageValue::messageNumber(const Value& value) {
  if (value.isIndex()) return value.asIndex();
  if (!value.isNumber()) return std::nullopt;
  const double number = value.asNumber();
  // 2^64 is the first double past the unsigned 64-bit range.
  if (!std::isfinite(number) || number < 0 || number >= 18446744073709551616.0) {
    return std::nullopt;
  }
  return static_cast<uint64_t>(number);
}

std::optional<MessageNumberParts> MessageValue::split(uint64_t number) {
  const uint8_t status = (number >> 16) & 0xFF;
  if (!isMIDIStatus(status) || status == kMIDISysexStart || status == kMIDISysexEnd) {
    return std::nullopt;
  }
  MessageNumberParts parts;
  if (isMIDIChannelStatus(status)) {
    parts.type = status & kMIDIKindMask;
    parts.channel = status & kMIDIChannelMask;
  } else {
    parts.type = status;
  }
  parts.data1 = (number >> 8) & 0x7F;
  parts.data2 = number & 0x7F;
  return parts;
}

OrvMIDIMessagePtr MessageValue::readNumber(const Value& value, std::string* whyNot) {
  const auto number = messageNumber(value);
  if (!number) {
    explain(whyNot, "the number is negative, not finite or too large");
    return nullptr;
  }
  const auto parts = split(*number);
  if (!parts) {
    const unsigned status = (*number >> 16) & 0xFF;
    const std::string statusText = "its status byte (bits 16 to 23) is " + hexByte(status);
    explain(whyNot, !isMIDIStatus(status)
                        ? statusText + ", below 0x80"
                        : statusText + ", system exclusive, which travels as a text");
    return nullptr;
  }
  return OrvMIDIMessage::createFromVals(parts->type, parts->channel, parts->data1, parts->data2);
}

OrvMIDIMessagePtr MessageValue::readSysexString(const std::string& text, std::string* whyNot) {
  std::vector<int32_t> bytes;
  size_t begin = 0;
  for (int piece = 1;; ++piece) {
    size_t end = text.find(',', begin);
    if (end == std::string::npos) end = text.size();
    int32_t byte = 0;
    const PieceResult result = readPiece(text, begin, end, byte);
    if (result != PieceResult::Ok) {
      std::string quoted(1, '"');
      quoted.append(text, begin, end - begin).push_back('"');
      explain(whyNot, "piece " + std::to_string(piece) + " (" + quoted + ") " +
                          (result == PieceResult::NoDigits ? "holds no digits"
                                                           : "does not fit in 32 bits"));
      return nullptr;
    }
    bytes.push_back(byte);
    if (end == text.size()) break;
    begin = end + 1;
  }
  auto message = OrvMIDIMessage::createWithSysexArray(bytes);
  if (!message) explain(whyNot, refusedElementReason(bytes));
  return message;
}

OrvMIDIMessagePtr MessageValue::readLongSysex(const Value& value) {
  if (!value.isString()) return nullptr;
  auto msg = read(value);
  if (!msg || msg->type() != kMIDISysexStart || msg->wireLength() <= OrvMIDINode::kMaxPacketData) {
    return nullptr;
  }
  return msg;
}

}  // namespace wex
