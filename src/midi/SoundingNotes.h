#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#include "midi/OrvMIDIMessage.h"

namespace wex {

// The notes a sender left sounding on one destination, one bit per channel
// and note: a note on with a velocity sets it; its note off, a note on with
// velocity 0, and the channel's all sound off or all notes off clear it.
// Lock-free, so that the evaluation thread can note what it sent while the
// main thread takes the notes to silence them.
class SoundingNotes {
 public:
  static constexpr uint8_t kNoteOffVelocity = 64;

  // Called after `msg` went out.
  void noteSent(const OrvMIDIMessage& msg);
  // The sounding notes as note offs (status, note, velocity 64), by channel
  // and note; none sound afterwards.
  std::vector<std::array<Byte, 3>> takeNoteOffs();
  bool empty() const;

 private:
  static constexpr int kNotes = 16 * 128;
  static constexpr int kWordBits = 64;

  void set(int channel, int note);
  void clear(int channel, int note);
  void clearChannel(int channel);

  std::array<std::atomic<uint64_t>, kNotes / kWordBits> words_{};
};

}  // namespace wex
