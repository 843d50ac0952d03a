#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "midi/OrvMIDIMessage.h"

namespace wex {

// The notes a sender left sounding on one destination, one flag per channel
// and note: a note on with a velocity sets it; its note off, a note on with
// velocity 0, and the channel's all sound off or all notes off clear it.
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
  // each from the lowest byte up (status, data1, data2). A note on or off is
  // one store, at the status's channel and data1's note.
  void notesWentOut(const uint32_t* wires, size_t count) {
    if (count == 0) return;
    bool* flags = sounding_ ? sounding_.get() : allocate();
#pragma GCC unroll 4
    for (size_t i = 0; i < count; ++i) {
      const uint32_t wire = wires[i];
      if ((wire & 0xF0) == 0xB0) [[unlikely]] {
        const uint32_t controller = (wire >> 8) & 0x7F;
        if (controller == kAllSoundOff || controller == kAllNotesOff) clearChannel(wire & 0x0F);
        continue;
      }
      // A note on with a velocity: a note on's bit 4, a velocity's bits.
      flags[wire & kIndexMask] = (wire & 0x10) != 0 && (wire & 0x7F0000) != 0;
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
  // A note's flag is at its wire bytes' channel and note, `note << 8 |
  // channel`, which takes one instruction to find.
  static constexpr uint32_t kIndexMask = 0x7F0F;
  static constexpr size_t kFlags = kIndexMask + 1;
  static constexpr size_t index(uint32_t channel, uint32_t note) {
    return note << 8 | channel;
  }

  // The flags, made on the first note: a node that never sends a note
  // keeps none.
  [[gnu::cold]] bool* allocate();
  void clearChannel(uint32_t channel);

  std::unique_ptr<bool[]> sounding_;  // null while no note was sent
};

}  // namespace wex
