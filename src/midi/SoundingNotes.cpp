#include "midi/SoundingNotes.h"

namespace wex {

namespace {

constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kControlChange = 0xB0;
constexpr uint8_t kAllSoundOff = 120;
constexpr uint8_t kAllNotesOff = 123;

}  // namespace

void SoundingNotes::noteSent(const OrvMIDIMessage& msg) {
  const int channel = msg.channel() & 0x0F;
  const int note = msg.data1() & 0x7F;
  switch (msg.type()) {
    case kNoteOn:
      // Sent as data2 & 0x7F: an absent velocity goes out as 0x7E, a note on.
      if ((msg.data2() & 0x7F) != 0) {
        set(channel, note);
      } else {
        clear(channel, note);
      }
      break;
    case kNoteOff:
      clear(channel, note);
      break;
    case kControlChange:
      if (note == kAllSoundOff || note == kAllNotesOff) clearChannel(channel);
      break;
    default:
      break;
  }
}

void SoundingNotes::set(int channel, int note) {
  const int bit = channel * 128 + note;
  words_[bit / kWordBits].fetch_or(uint64_t{1} << (bit % kWordBits), std::memory_order_relaxed);
}

void SoundingNotes::clear(int channel, int note) {
  const int bit = channel * 128 + note;
  words_[bit / kWordBits].fetch_and(~(uint64_t{1} << (bit % kWordBits)), std::memory_order_relaxed);
}

void SoundingNotes::clearChannel(int channel) {
  const int first = channel * 128 / kWordBits;
  for (int word = first; word < first + 128 / kWordBits; ++word) {
    words_[word].store(0, std::memory_order_relaxed);
  }
}

std::vector<std::array<Byte, 3>> SoundingNotes::takeNoteOffs() {
  std::vector<std::array<Byte, 3>> noteOffs;
  for (int word = 0; word < static_cast<int>(words_.size()); ++word) {
    uint64_t bits = words_[word].exchange(0, std::memory_order_relaxed);
    while (bits != 0) {
      const int bit = word * kWordBits + __builtin_ctzll(bits);
      bits &= bits - 1;
      noteOffs.push_back({static_cast<Byte>(kNoteOff | (bit / 128)), static_cast<Byte>(bit % 128),
                          kNoteOffVelocity});
    }
  }
  return noteOffs;
}

bool SoundingNotes::empty() const {
  for (const auto& word : words_) {
    if (word.load(std::memory_order_relaxed) != 0) return false;
  }
  return true;
}

}  // namespace wex
