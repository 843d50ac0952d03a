#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "midi/OrvMIDIMessage.h"

namespace wex {

// The notes a sender left sounding on one destination, one byte per channel
// and note: a note on sets it to its velocity (none sounds at 0); its note
// off and the channel's all sound off or all notes off set it to 0.
// Plain memory: its owner guards it with the lock its sends already take, so
// that keeping account costs a store per note message and no locked
// instruction.
class SoundingNotes {
 public:
  static constexpr uint8_t kNoteOffVelocity = 64;

  SoundingNotes() = default;
  SoundingNotes(SoundingNotes&&) noexcept = default;
  SoundingNotes& operator=(SoundingNotes&&) noexcept = default;

  // Whether a message of this type can change what sounds: note on, note off
  // and control change (all sound off, all notes off).
  static constexpr bool concerns(uint8_t type) {
    return type == 0x80 || type == 0x90 || type == 0xB0;
  }

  // Called after messages of those types went out, with their wire bytes
  // each from the lowest byte up (status, data1, data2; below 0x80). A note
  // on or off, or a control change that is no channel mode message, is one
  // store and no branch that depends on the message: a note's byte is at
  // its status's channel and data1's note, and a control change's at a
  // place no note has (bit 5 of the index, its status's bit 5), where what
  // it writes is never read.
  void notesWentOut(const uint32_t* wires, size_t count) {
    if (count == 0) return;
    uint8_t* velocities = sounding_ ? sounding_.get() : allocate();
#pragma GCC unroll 4
    for (size_t i = 0; i < count; ++i) {
      const uint32_t wire = wires[i];
      if ((wire & kChannelModeMask) == kChannelMode) [[unlikely]] {
        const uint32_t controller = (wire >> 8) & 0x7F;
        if (controller == kAllSoundOff || controller == kAllNotesOff) clearChannel(wire & 0x0F);
        continue;
      }
      const uint32_t at = wire & (kIndexMask | kControlChangeBit);
      // A note on's bit 4: its velocity; a note off's: 0.
      velocities[at] = (wire & 0x10) ? static_cast<uint8_t>(wire >> 16) : 0;
    }
  }
  // Adds the notes of `other` (a sender's node made again for the same
  // destination takes over what the old one left sounding).
  void add(const SoundingNotes& other);
  // The sounding notes as note offs (status, note, velocity 64), by channel
  // and note; none sound afterwards.
  std::vector<std::array<Byte, 3>> takeNoteOffs();
  bool empty() const;

 private:
  static constexpr uint8_t kAllSoundOff = 120;
  static constexpr uint8_t kAllNotesOff = 123;
  // A control change of controller 120 or above.
  static constexpr uint32_t kChannelModeMask = 0x78F0;
  static constexpr uint32_t kChannelMode = 0x78B0;
  // A note's byte is at its wire bytes' channel and note, `note << 8 |
  // channel`, which takes one instruction to find.
  static constexpr uint32_t kIndexMask = 0x7F0F;
  // Set in a control change's status (0xB0) and in no note's (0x80, 0x90).
  static constexpr uint32_t kControlChangeBit = 0x20;
  static constexpr size_t kBytes = 0x8000;
  static_assert((kIndexMask | kControlChangeBit) < kBytes);
  static constexpr size_t index(uint32_t channel, uint32_t note) {
    return note << 8 | channel;
  }

  // The bytes, made on the first note: a node that never sends a note
  // keeps none.
  [[gnu::cold]] uint8_t* allocate();
  void clearChannel(uint32_t channel);

  std::unique_ptr<uint8_t[]> sounding_;  // null while no note was sent
};

}  // namespace wex
