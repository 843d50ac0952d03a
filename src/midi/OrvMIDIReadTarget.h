#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace wex {

class OrvMIDIMessage;
using OrvMIDIMessageList = std::vector<std::shared_ptr<OrvMIDIMessage>>;

// What the read callback needs of the node it reads for: the system exclusive
// state kept between callbacks, and where to hand the completed messages.
class OrvMIDIReadTarget {
 public:
  virtual ~OrvMIDIReadTarget() = default;
  virtual bool processingSysex() const = 0;
  virtual void setProcessingSysex(bool processing) = 0;
  virtual int32_t processingSysexIterationCount() const = 0;
  virtual void setProcessingSysexIterationCount(int32_t count) = 0;
  virtual std::vector<int32_t>& sysexArray() = 0;  // the accumulator, changed in place
  virtual void receivedMIDI(const OrvMIDIMessageList& messages) = 0;  // never empty
};

}  // namespace wex
