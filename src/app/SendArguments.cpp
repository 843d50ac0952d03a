#include "app/SendArguments.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <optional>

#include "host/QuotedText.h"
#include "host/ValueJSON.h"
#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIReadProc.h"
#include "midi/OrvMIDIReadTarget.h"
#include "midiio/HexReader.h"
#include "patches/MessageArgument.h"
#include "patches/MessageValue.h"
#include "services/MIDIPacketListBuffer.h"
#include "support/LimitedFileReader.h"

namespace wex {

namespace {

struct WordShape {
  const char* word;
  uint8_t type;
  std::vector<const char*> numbers;  // names of the numbers after the channel
};

const std::vector<WordShape>& wordShapes() {
  static const std::vector<WordShape> shapes = {{"on", 0x90, {"note", "velocity"}},
                                                {"off", 0x80, {"note", "velocity"}},
                                                {"cc", 0xB0, {"controller", "value"}},
                                                {"pc", 0xC0, {"program"}},
                                                {"pb", 0xE0, {"bend"}}};
  return shapes;
}

// A whole number by the rule of every other place: 127, 127.0 and 1e2 alike.
std::optional<long> wholeNumber(const std::string& text) {
  double number = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (status != std::errc() || end != text.data() + text.size()) return std::nullopt;
  const auto whole = ValueJSON::wholeIndex(ValueJSON::Json(number));
  if (!whole || *whole > static_cast<uint64_t>(std::numeric_limits<long>::max())) {
    return std::nullopt;
  }
  return static_cast<long>(*whole);
}

// Gathers the bytes of hex text, ignoring "/" and "//".
class ByteGatherer : public HexReader::Sink {
 public:
  void bytes(const Byte* data, size_t count) override {
    gathered.insert(gathered.end(), data, data + count);
  }
  void slash() override {}
  void doubleSlash() override {}
  void lineEnd() override {}
  std::vector<Byte> gathered;
};

// Parses bytes as a receiving node does, in one packet list.
class MessageGatherer : public OrvMIDIReadTarget {
 public:
  void receivedMIDI(const OrvMIDIMessageList& messages) override {
    gathered.insert(gathered.end(), messages.begin(), messages.end());
  }
  OrvMIDIMessageList gathered;
};

// Why a parsed message cannot go out as the bytes given, if it cannot.
std::optional<std::string> incomplete(const OrvMIDIMessage& message) {
  const uint8_t type = message.type();
  const bool twoBytes = (type >= 0x80 && type <= 0xB0) || type == 0xE0 || type == 0xF2;
  const bool oneByte = type == 0xC0 || type == 0xD0 || type == 0xF1 || type == 0xF3;
  if ((twoBytes && (message.data1() == OrvMIDIMessage::kAbsentData1 ||
                    message.data2() == OrvMIDIMessage::kAbsentData2)) ||
      (oneByte && message.data1() == OrvMIDIMessage::kAbsentData1)) {
    return "a message lacks data bytes at the end";
  }
  return std::nullopt;
}

// The bytes are parsed a list of about a MiB at a time, so that the messages
// can be counted as they come. A list ends before a status byte (realtime
// ones excepted, which may fall inside a message), as a message may not
// continue in the next callback; a sysex may.
constexpr size_t kLongestPacket = 0xFFFF;
constexpr size_t kPacketsPerList = 16;

size_t listEnd(const Byte* data, size_t start, size_t size) {
  const size_t end = std::min(size, start + kLongestPacket * kPacketsPerList);
  if (end == size) return end;
  for (size_t cut = end; cut > start; --cut) {
    if (data[cut] >= 0x80 && data[cut] < 0xF8) return cut;
  }
  return end;
}

void parseList(const Byte* data, size_t size, MessageGatherer& parsed) {
  const size_t packets = (size + kLongestPacket - 1) / kLongestPacket;
  MIDIPacketListBuffer list(kMIDIPacketListHeaderSize + packets * kMIDIPacketHeaderSize + size);
  for (size_t at = 0; at < size; at += kLongestPacket) {
    list.addPacket(data + at, std::min(kLongestPacket, size - at));
  }
  myMIDIReadProc(list.list(), static_cast<OrvMIDIReadTarget*>(&parsed), nullptr);
}

}  // namespace

SendArguments::SendArguments(const std::vector<Argument>& arguments) {
  for (size_t at = 0; at < arguments.size();) {
    const Argument& argument = arguments[at];
    switch (argument.kind) {
      case Kind::Hex: {
        ByteGatherer sink;
        HexReader reader(sink);
        if (!reader.feed(argument.text.data(), argument.text.size()) || !reader.finish()) {
          refuse("--hex " + argument.text, reader.error());
        } else {
          addBytes("--hex " + argument.text,
                   std::string(sink.gathered.begin(), sink.gathered.end()));
        }
        ++at;
        break;
      }
      case Kind::File: {
        std::string bytes, reason;
        if (!LimitedFileReader::read(argument.text, &bytes, &reason)) {
          // The reason starts with the path, which the refusal names already.
          refuse("--file " + argument.text, reason.substr(argument.text.size() + 2));
        } else {
          addBytes("--file " + argument.text, bytes);
        }
        ++at;
        break;
      }
      case Kind::Plain:
        addWords(arguments, at);
        break;
    }
  }
}

void SendArguments::addWords(const std::vector<Argument>& arguments, size_t& at) {
  const std::string& word = arguments[at].text;
  const WordShape* shape = nullptr;
  for (const auto& candidate : wordShapes()) {
    if (word == candidate.word) shape = &candidate;
  }
  if (!shape) {
    addValue(word);
    ++at;
    return;
  }
  std::string shown = word;
  std::vector<std::string> numbers;
  const size_t wanted = 1 + shape->numbers.size();
  size_t next = at + 1;
  while (numbers.size() < wanted && next < arguments.size() &&
         arguments[next].kind == Kind::Plain) {
    numbers.push_back(arguments[next].text);
    shown += " " + arguments[next].text;
    ++next;
  }
  at = next;
  if (numbers.size() < wanted) {
    std::string form = std::string(shape->word) + " CHANNEL";
    for (const char* name : shape->numbers) form += std::string(" ") + name;
    refuse(shown, "takes " + std::to_string(wanted) + " numbers: " + form);
    return;
  }
  const auto channel = wholeNumber(numbers[0]);
  if (!channel || *channel < 1 || *channel > 16) {
    refuse(shown, "the channel " + QuotedText::of(numbers[0]) + " is not 1 to 16");
    return;
  }
  long data[2] = {0, 0};
  for (size_t i = 0; i < shape->numbers.size(); ++i) {
    const auto number = wholeNumber(numbers[i + 1]);
    const long highest = shape->type == 0xE0 ? 16383 : 127;
    if (!number || *number < 0 || *number > highest) {
      refuse(shown, std::string("the ") + shape->numbers[i] + " " + QuotedText::of(numbers[i + 1]) +
                        " is not 0 to " + std::to_string(highest));
      return;
    }
    data[i] = *number;
  }
  if (shape->type == 0xE0) {
    data[1] = data[0] >> 7;
    data[0] &= 0x7F;
  }
  const auto message = OrvMIDIMessage::createFromVals(
      shape->type, static_cast<uint8_t>(*channel - 1), static_cast<uint8_t>(data[0]),
      static_cast<uint8_t>(shape->numbers.size() == 2 || shape->type == 0xE0
                               ? data[1]
                               : OrvMIDIMessage::kAbsentData2));
  messages_.push_back(MessageValue::write(*message));
}

void SendArguments::addValue(const std::string& text) {
  std::string reason;
  auto value = MessageArgument::value(text, reason);
  if (value && !MessageValue::read(*value, &reason)) value.reset();
  if (!value) {
    refusals_.push_back(QuotedText::of(text) + " yields no message: " + reason);
    return;
  }
  messages_.push_back(*value);
}

void SendArguments::addBytes(const std::string& shown, const std::string& bytes) {
  if (bytes.empty()) {
    refuse(shown, "holds no bytes");
    return;
  }
  if (static_cast<Byte>(bytes[0]) < 0x80) {
    refuse(shown, "starts with a data byte; the first byte must be a status byte (80 to FF)");
    return;
  }
  MessageGatherer parsed;
  const auto* data = reinterpret_cast<const Byte*>(bytes.data());
  for (size_t start = 0; start < bytes.size();) {
    const size_t end = listEnd(data, start, bytes.size());
    parseList(data + start, end - start, parsed);
    start = end;
    if (messages_.size() + parsed.gathered.size() > kMaxMessages) {
      refuse(shown,
             "holds more than the " + std::to_string(kMaxMessages) + " messages one send takes");
      return;
    }
  }
  if (parsed.processingSysex()) {
    refuse(shown, "ends inside a sysex message (no F7)");
    return;
  }
  for (const auto& message : parsed.gathered) {
    if (auto reason = incomplete(*message)) {
      refuse(shown, *reason);
      return;
    }
  }
  for (const auto& message : parsed.gathered) messages_.push_back(MessageValue::write(*message));
}

void SendArguments::refuse(const std::string& shown, const std::string& reason) {
  refusals_.push_back(QuotedText::of(shown) + ": " + reason);
}

}  // namespace wex
