#pragma once

#include <lo/lo.h>

#include "host/Value.h"

namespace wex {

// A port's value as the typed arguments of one OSC message: a boolean as T or
// F, an index as i (h beyond 32 bits), a number as f (d when a float would
// change it), a string as s, nothing as N, and a structure as its items in
// order. On a port that carries message values, a message number goes as
// OSC's MIDI type m (port 0, status, data1, data2; absent data bytes as 0)
// and a sysex string as a blob of the message's bytes, F0 to F7.
class OscValueWriter {
 public:
  static void append(lo_message message, const Value& value, bool carriesMessages);

  // Whether a port's values are message values, by its key.
  static bool carriesMessages(const std::string& portKey);

 private:
  static void appendPlain(lo_message message, const Value& value);
  // False when the value is no message (then it goes as a plain value).
  static bool appendMessage(lo_message message, const Value& value);
};

}  // namespace wex
