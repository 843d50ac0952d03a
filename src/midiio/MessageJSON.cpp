#include "midiio/MessageJSON.h"

#include <string>

#include "midiio/MessageFormat.h"

namespace wex {

void MessageJSON::append(Json& line, const OrvMIDIMessage& message, bool withHex) {
  std::string value;
  MessageFormat::appendValue(value, message);
  if (message.type() == 0xF0) {
    line["value"] = value;
  } else {
    line["value"] = std::stoull(value);
  }
  line["type"] = message.type();
  line["channel"] = message.channel();
  if (const auto* sysex = message.sysexArray()) {
    line["sysex"] = *sysex;
  } else {
    line["data1"] = message.data1();
    line["data2"] = message.data2();
  }
  if (withHex) {
    std::string hex;
    MessageFormat::appendHex(hex, message);
    line["hex"] = hex;
  }
  std::string text;
  MessageFormat::appendText(text, message);
  line["text"] = text;
}

}  // namespace wex
