#include "midi/SoundingNotes.h"

namespace wex {

uint8_t* SoundingNotes::allocate() {
  sounding_ = std::make_unique<uint8_t[]>(kBytes);
  return sounding_.get();
}

void SoundingNotes::add(const SoundingNotes& other) {
  if (!other.sounding_) return;
  uint8_t* velocities = sounding_ ? sounding_.get() : allocate();
  for (uint32_t channel = 0; channel < 16; ++channel) {
    for (uint32_t note = 0; note < 128; ++note) {
      uint8_t& velocity = velocities[index(channel, note)];
      if (!velocity) velocity = other.sounding_[index(channel, note)];
    }
  }
}

void SoundingNotes::clearChannel(uint32_t channel) {
  uint8_t* velocities = sounding_.get() + channel;
#pragma GCC unroll 16
  for (uint32_t note = 0; note < 128; ++note) velocities[index(0, note)] = 0;
}

std::vector<std::array<Byte, 3>> SoundingNotes::takeNoteOffs() {
  std::vector<std::array<Byte, 3>> noteOffs;
  if (!sounding_) return noteOffs;
  for (uint32_t channel = 0; channel < 16; ++channel) {
    for (uint32_t note = 0; note < 128; ++note) {
      uint8_t& velocity = sounding_[index(channel, note)];
      if (!velocity) continue;
      velocity = 0;
      noteOffs.push_back(
          {static_cast<Byte>(0x80 | channel), static_cast<Byte>(note), kNoteOffVelocity});
    }
  }
  return noteOffs;
}

bool SoundingNotes::empty() const {
  if (!sounding_) return true;
  for (uint32_t channel = 0; channel < 16; ++channel) {
    for (uint32_t note = 0; note < 128; ++note) {
      if (sounding_[index(channel, note)]) return false;
    }
  }
  return true;
}

}  // namespace wex
