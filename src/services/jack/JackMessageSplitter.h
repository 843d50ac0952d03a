#pragma once

#include <cstddef>
#include <functional>
#include <vector>

#include "services/MIDITypes.h"

namespace wex {

// Cuts a stream of MIDI bytes, as packets carry it, into whole messages, one
// per JACK event. A system exclusive message may arrive over several packets
// or packet lists: it is kept until its F7. A very long one goes out in
// fragments of kMaxSysexFragment bytes, no more than one cycle carries to a
// port, so that no server is ever handed more at once. Realtime bytes go out
// at once, even in the middle of another message. Running status is expanded;
// data bytes without a status are dropped.
class JackMessageSplitter {
 public:
  static constexpr size_t kMaxSysexFragment = 8192;

  using Emit = std::function<void(const Byte* data, size_t length)>;

  void feed(const Byte* data, size_t length, const Emit& emit);

 private:
  void status(Byte byte, const Emit& emit);
  void data(Byte byte, const Emit& emit);

  std::vector<Byte> message_;
  size_t expectedDataBytes_ = 0;
  Byte runningStatus_ = 0;
  bool inSysex_ = false;
};

}  // namespace wex
