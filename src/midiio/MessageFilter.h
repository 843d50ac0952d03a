#pragma once

#include <bitset>
#include <optional>
#include <string>
#include <vector>

#include "midi/OrvMIDIMessage.h"

namespace wex {

// Which messages `monitor` prints: by channel (1 to 16, as musicians count)
// and by kind ("note", "cc", "clock", "realtime", ...). A channel leaves out
// the channel messages of every other channel; system messages have no
// channel and are kept or left out by their kind alone.
class MessageFilter {
 public:
  // The kinds --type takes, for the help and for errors.
  static std::string kindNames();

  // Keeps only the kinds named (every kind while none is); false, with the
  // reason, for a name that is no kind.
  bool addKind(const std::string& name, std::string* reason);
  // Leaves out one status (0xF8 for clock, 0xFE for active sensing).
  void leaveOut(uint8_t status) { leftOut_.set(status); }
  // channel is 1 to 16.
  void setChannel(int channel) { channel_ = channel - 1; }

  bool passes(const OrvMIDIMessage& message) const;

 private:
  std::bitset<256> kinds_;  // by status: the channel messages at their type (0x80 ...)
  bool anyKind_ = true;
  std::bitset<256> leftOut_;
  std::optional<int> channel_;
};

}  // namespace wex
