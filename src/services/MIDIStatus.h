#pragma once

#include <array>
#include <cstdint>

#include "services/MIDITypes.h"

// The status bytes of MIDI 1.0 by name, and the number of data bytes each
// carries on the wire. A channel status is given for channel 0: its high
// nibble is the kind of message, its low nibble the channel.
namespace wex {

// Channel messages.
constexpr Byte kMIDINoteOff = 0x80;
constexpr Byte kMIDINoteOn = 0x90;
constexpr Byte kMIDIPolyPressure = 0xA0;
constexpr Byte kMIDIControlChange = 0xB0;
constexpr Byte kMIDIProgramChange = 0xC0;
constexpr Byte kMIDIChannelPressure = 0xD0;
constexpr Byte kMIDIPitchBend = 0xE0;

// System common messages.
constexpr Byte kMIDISysexStart = 0xF0;
constexpr Byte kMIDIQuarterFrame = 0xF1;
constexpr Byte kMIDISongPosition = 0xF2;
constexpr Byte kMIDISongSelect = 0xF3;
constexpr Byte kMIDIUndefinedCommon1 = 0xF4;
constexpr Byte kMIDIUndefinedCommon2 = 0xF5;
constexpr Byte kMIDITuneRequest = 0xF6;
constexpr Byte kMIDISysexEnd = 0xF7;

// System realtime messages: one byte each, allowed anywhere in the stream.
constexpr Byte kMIDIClock = 0xF8;
constexpr Byte kMIDITick = 0xF9;
constexpr Byte kMIDIStart = 0xFA;
constexpr Byte kMIDIContinue = 0xFB;
constexpr Byte kMIDIStop = 0xFC;
constexpr Byte kMIDIUndefinedRealtime = 0xFD;
constexpr Byte kMIDIActiveSensing = 0xFE;
constexpr Byte kMIDISystemReset = 0xFF;

// Masks that split a byte.
constexpr Byte kMIDIStatusBit = 0x80;      // set in every status byte, clear in data bytes
constexpr Byte kMIDIDataMask = 0x7F;       // the bits a data byte may carry
constexpr Byte kMIDIKindMask = 0xF0;       // the kind of a channel message
constexpr Byte kMIDIChannelMask = 0x0F;    // the channel of a channel message
constexpr Byte kMIDIFirstSystem = 0xF0;    // statuses from here on have no channel
constexpr Byte kMIDIFirstRealtime = 0xF8;  // statuses from here on are realtime

constexpr bool isMIDIStatus(Byte b) {
  return (b & kMIDIStatusBit) != 0;
}
constexpr bool isMIDIRealtime(Byte b) {
  return b >= kMIDIFirstRealtime;
}
constexpr bool isMIDIChannelStatus(Byte b) {
  return isMIDIStatus(b) && b < kMIDIFirstSystem;
}

// Data bytes after each status byte, for every channel; 0 for data bytes, for
// the sysex framing bytes (a sysex's length is its own) and for statuses
// without data.
inline constexpr std::array<uint8_t, 256> kMIDIDataByteCounts = [] {
  std::array<uint8_t, 256> counts{};
  for (int channel = 0; channel < 16; ++channel) {
    for (Byte kind :
         {kMIDINoteOff, kMIDINoteOn, kMIDIPolyPressure, kMIDIControlChange, kMIDIPitchBend}) {
      counts[kind | channel] = 2;
    }
    for (Byte kind : {kMIDIProgramChange, kMIDIChannelPressure}) counts[kind | channel] = 1;
  }
  counts[kMIDIQuarterFrame] = 1;
  counts[kMIDISongPosition] = 2;
  counts[kMIDISongSelect] = 1;
  return counts;
}();

constexpr uint8_t midiDataByteCount(Byte status) {
  return kMIDIDataByteCounts[status];
}

}  // namespace wex
