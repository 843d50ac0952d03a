#pragma once

#include <cstdint>
#include <vector>

#include "services/MIDITypes.h"

namespace wex::bench {

// A MIDI byte stream as a keyboard, a controller and a clock would send it.
struct StreamMix {
  size_t messages = 20000;
  // Share of messages that are system exclusive, 8 to 1000 bytes long with
  // clock bytes inside.
  double sysexShare = 0.01;
  uint32_t seed = 1;
};

std::vector<Byte> generateStream(const StreamMix& mix);

// Packet lists as they would arrive: the stream cut at random into packets
// of 1 to 128 bytes, gathered into lists of at most `listSize` bytes.
std::vector<std::vector<Byte>> cutIntoPacketLists(const std::vector<Byte>& stream, uint32_t seed,
                                                  ByteCount listSize = 1024);

inline const MIDIPacketList* asPacketList(const std::vector<Byte>& bytes) {
  return reinterpret_cast<const MIDIPacketList*>(bytes.data());
}

}  // namespace wex::bench
