#pragma once

#include <nlohmann/json.hpp>

#include "midi/OrvMIDIMessage.h"

namespace wex {

// A message as JSON, the same in every JSON line the program writes (monitor,
// decode, the page's monitor): its value (a number, or the sysex string as a
// message value holds it), type, channel, data1 and data2 or the sysex bytes,
// the hex of its wire bytes when asked for, and its text.
class MessageJSON {
 public:
  using Json = nlohmann::ordered_json;

  // Adds the message's fields to `line`, after the fields it holds already
  // (the time and source, or the callback).
  static void append(Json& line, const OrvMIDIMessage& message, bool withHex = false);
};

}  // namespace wex
