#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/Value.h"

namespace wex {

// A message value as given on the command line: "0x..." is a hex number,
// anything that reads whole as a decimal number is a number, text in double
// quotes is that text (so "5" is a one-byte sysex string), and everything
// else is text. Nothing, with the reason, for a malformed number or one
// beyond the 24 bits of a message number. `wexmidi send`, `encode` and the
// page's "send" all read message values here.
class MessageArgument {
 public:
  static constexpr uint64_t kLargestMessageNumber = 0xFFFFFF;

  static std::optional<Value> value(const std::string& argument, std::string& error);

  // How the commands that take message values describe them in --help.
  static constexpr const char* kHelp =
      "Message values: a message number, (type|channel)<<16 | data1<<8 | data2 (decimal, or hex "
      "as 0x903C64), or a sysex string of decimal bytes separated by commas (1,2,3; a single "
      "byte in double quotes, \"5\")";
};

}  // namespace wex
