#pragma once

#include <alsa/asoundlib.h>

#include <functional>
#include <vector>

#include "services/MIDITypes.h"

namespace wex {

// Turns MIDI bytes into sequencer events and back with ALSA's MIDI coder.
//
// Encoding keeps its state between calls, so a message, or a system
// exclusive message, may come over several packets and packet lists. A long
// system exclusive message leaves in pieces of kSysexPiece bytes, each an
// event of its own; realtime bytes leave at once, even inside another
// message. Decoding writes each message with its status byte (no running
// status); a sysex event gives the bytes of its piece as they are.
class AlsaEventCoder {
 public:
  static constexpr size_t kSysexPiece = 256;

  using Emit = std::function<bool(snd_seq_event_t& event)>;

  AlsaEventCoder();
  ~AlsaEventCoder();
  AlsaEventCoder(const AlsaEventCoder&) = delete;
  AlsaEventCoder& operator=(const AlsaEventCoder&) = delete;

  // Feeds bytes; `emit` gets every complete event (or sysex piece). Stops and
  // returns false as soon as `emit` does.
  bool encode(const Byte* data, size_t length, const Emit& emit);

  // The bytes of a MIDI event, appended to `out`; false (nothing appended)
  // for an event that carries no MIDI.
  bool decode(const snd_seq_event_t& event, std::vector<Byte>* out);

 private:
  snd_midi_event_t* encoder_ = nullptr;
  snd_midi_event_t* decoder_ = nullptr;
};

}  // namespace wex
