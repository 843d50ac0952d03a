#include "midi/SoundingNotes.h"

namespace wex {

bool* SoundingNotes::allocate() {
  sounding_ = std::make_unique<bool[]>(kFlags);
  return sounding_.get();
}

void SoundingNotes::add(const SoundingNotes& other) {
  if (!other.sounding_) return;
  bool* flags = sounding_ ? sounding_.get() : allocate();
  for (size_t i = 0; i < kFlags; ++i) flags[i] = flags[i] || other.sounding_[i];
}

void SoundingNotes::clearChannel(uint32_t channel) {
  bool* flags = sounding_.get() + channel;
#pragma GCC unroll 16
  for (uint32_t note = 0; note < 128; ++note) flags[index(0, note)] = false;
}

std::vector<std::array<Byte, 3>> SoundingNotes::takeNoteOffs() {
  std::vector<std::array<Byte, 3>> noteOffs;
  if (!sounding_) return noteOffs;
  for (uint32_t channel = 0; channel < 16; ++channel) {
    for (uint32_t note = 0; note < 128; ++note) {
      bool& sounding = sounding_[index(channel, note)];
      if (!sounding) continue;
      sounding = false;
      noteOffs.push_back(
          {static_cast<Byte>(0x80 | channel), static_cast<Byte>(note), kNoteOffVelocity});
    }
  }
  return noteOffs;
}

bool SoundingNotes::empty() const {
  if (!sounding_) return true;
  for (size_t i = 0; i < kFlags; ++i) {
    if (sounding_[i]) return false;
  }
  return true;
}

}  // namespace wex
