#pragma once

#include <string>

#include "midi/OrvMIDIMessage.h"

namespace wex {

// The columns the MIDI commands print for a message, appended to a line
// without streams or temporary strings: decode prints millions a second.
class MessageFormat {
 public:
  // Its message value: the message number, or the sysex string.
  static void appendValue(std::string& line, const OrvMIDIMessage& message);
  // Its text: the lengthy description, or the plain one for a type without.
  static void appendText(std::string& line, const OrvMIDIMessage& message);
  // The bytes it goes out as, in hex as decode reads them ("90 3C 64").
  static void appendHex(std::string& line, const OrvMIDIMessage& message);
  static void appendNumber(std::string& line, uint64_t number);
};

}  // namespace wex
