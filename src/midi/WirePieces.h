#pragma once

#include <algorithm>
#include <cstddef>

#include "services/MIDITypes.h"

namespace wex {

// The one way a message too long for one packet list goes out: its wire
// bytes cut, in order, into pieces of at most `longest` bytes, each sent as a
// packet list of its own, which the receiving side's parser puts back
// together (a sysex may span callbacks). A sender node and the MIDI file
// player both cut long messages this way.
class WirePieces {
 public:
  // Calls `send(piece, length)` for each piece in order; stops at the first
  // that returns false, and returns false then.
  template <typename Send>
  static bool forEach(const Byte* bytes, size_t size, size_t longest, Send&& send) {
    for (size_t offset = 0; offset < size; offset += longest) {
      if (!send(bytes + offset, std::min(longest, size - offset))) return false;
    }
    return true;
  }
};

}  // namespace wex
