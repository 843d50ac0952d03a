#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/ValueJSON.h"

namespace wex {

// What one OSC message asks of the composition.
struct OscRequest {
  enum class Kind { Set, Send };

  Kind kind = Kind::Set;
  std::string address;                         // as received: /wexmidi/PATCH/PORT or /wexmidi/send
  std::string input;                           // Set: "PATCH.PORT"
  ValueJSON::Json value;                       // Set: the arguments, as --set's JSON
  std::vector<std::vector<uint8_t>> messages;  // Send: each message's bytes
};

// An OSC message, or a packet, refused with its cause.
struct OscRefusal {
  std::string address;  // empty when the packet was unreadable
  std::string cause;
};

}  // namespace wex
