#pragma once

#include <cstdint>
#include <vector>

#include "midi/OrvMIDIMessage.h"

namespace wex {

using OrvMIDIMessageList = std::vector<OrvMIDIMessagePtr>;

// What the read callback needs of the node it reads for: the system exclusive
// state kept between callbacks, and where to hand the completed messages.
// The state is plain data, read and written without a call, since the
// callback touches it on every call; only the hand-over is virtual.
class OrvMIDIReadTarget {
 public:
  virtual ~OrvMIDIReadTarget() = default;

  bool processingSysex() const { return processingSysex_; }
  void setProcessingSysex(bool processing) { processingSysex_ = processing; }
  int32_t processingSysexIterationCount() const { return iterationCount_; }
  void setProcessingSysexIterationCount(int32_t count) { iterationCount_ = count; }
  std::vector<int32_t>& sysexArray() { return sysexArray_; }  // the accumulator, changed in place
  const std::vector<int32_t>& sysexArray() const { return sysexArray_; }

  virtual void receivedMIDI(const OrvMIDIMessageList& messages) = 0;  // never empty

 private:
  bool processingSysex_ = false;
  int32_t iterationCount_ = 0;
  std::vector<int32_t> sysexArray_;
};

}  // namespace wex
