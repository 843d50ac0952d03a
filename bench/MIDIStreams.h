#pragma once

#include <cstdint>
#include <vector>

#include "services/MIDITypes.h"

namespace wex::bench {

// A MIDI byte stream as a keyboard, a controller and a clock would send it.
struct StreamMix {
  size_t messages = 20000;
  // Share of messages that are system exclusive, sysexMinLength to
  // sysexMaxLength bytes long (with F0 and F7) with clock bytes inside.
  double sysexShare = 0.01;
  int sysexMinLength = 8;
  int sysexMaxLength = 1000;
  uint32_t seed = 1;
};

std::vector<Byte> generateStream(const StreamMix& mix);

// Packet lists as they would arrive: the stream cut at random into packets
// of 1 to 128 bytes, gathered into lists of at most `listSize` bytes.
std::vector<std::vector<Byte>> cutIntoPacketLists(const std::vector<Byte>& stream, uint32_t seed,
                                                  ByteCount listSize = 1024);

// One packet list of one packet per message of a stream without system
// exclusive messages, as most live traffic arrives: a callback per message.
std::vector<std::vector<Byte>> cutIntoMessageLists(const std::vector<Byte>& stream);

inline const MIDIPacketList* asPacketList(const std::vector<Byte>& bytes) {
  return reinterpret_cast<const MIDIPacketList*>(bytes.data());
}

}  // namespace wex::bench
