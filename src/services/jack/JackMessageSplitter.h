#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "services/MIDITypes.h"

namespace wex {

// Cuts a stream of MIDI bytes, as packets carry it, into whole messages, one
// per JACK event. A system exclusive message may arrive over several packets
// or packet lists: it is kept until its F7. One longer than the longest event
// the server takes goes out in fragments of that length, the first starting
// with F0 and the last ending with F7, which peers read as one message (as
// a2jmidid sends it on to ALSA). Realtime bytes go out at once, even in the
// middle of another message. Running status is expanded; data bytes without
// a status are dropped.
class JackMessageSplitter {
 public:
  // The fragments' length until setMaxEventLength says otherwise.
  static constexpr size_t kMaxSysexFragment = 8192;

  using Emit = std::function<void(const Byte* data, size_t length)>;

  void feed(const Byte* data, size_t length, const Emit& emit);
  // The longest event the server takes; a sysex up to it goes whole.
  void setMaxEventLength(size_t length) {
    if (length >= 2) maxFragment_ = length;
  }

 private:
  void status(Byte byte, const Emit& emit);
  void data(Byte byte, const Emit& emit);

  std::vector<Byte> message_;
  size_t maxFragment_ = kMaxSysexFragment;
  size_t expectedDataBytes_ = 0;
  Byte runningStatus_ = 0;
  bool inSysex_ = false;
};

}  // namespace wex
