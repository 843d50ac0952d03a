#pragma once

#include <string>

#include "midi/OrvMIDIMessage.h"

namespace wex {

// The columns the MIDI commands print for a message, appended to a line
// without streams or temporary strings: decode prints millions a second.
class MessageFormat {
 public:
  // Room for the value, a tab and the text of any message writePlain writes.
  static constexpr size_t kMaxPlainLength = 64;

  // Its message value: the message number, or the sysex string.
  static void appendValue(std::string& line, const OrvMIDIMessage& message);
  // Its text: the lengthy description, or the plain one for a type without.
  static void appendText(std::string& line, const OrvMIDIMessage& message);
  // The bytes it goes out as, in hex as decode reads them ("90 3C 64").
  static void appendHex(std::string& line, const OrvMIDIMessage& message);
  static void appendNumber(std::string& line, uint64_t number);

  // "VALUE\tTEXT" written at `at`, which has room for kMaxPlainLength
  // characters; returns the end. Null for a sysex and for a type without a
  // text of its own (what it wrote then means nothing): those take the
  // append functions.
  static char* writePlain(char* at, const OrvMIDIMessage& message);
  // The most a sysex's "VALUE\tTEXT" can take, for writeSysex.
  static size_t maxSysexLength(const OrvMIDIMessage& message);
  // A sysex's "VALUE\tTEXT" written at `at`; returns the end. Null, with
  // nothing written, for any other message.
  static char* writeSysex(char* at, const OrvMIDIMessage& message);
};

}  // namespace wex
