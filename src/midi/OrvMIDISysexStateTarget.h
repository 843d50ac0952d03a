#pragma once

#include <cstdint>
#include <vector>

#include "midi/OrvMIDIReadTarget.h"

namespace wex {

// A read target that keeps the system exclusive state between callbacks in
// itself; subclasses say where the completed messages go.
class OrvMIDISysexStateTarget : public OrvMIDIReadTarget {
 public:
  bool processingSysex() const override { return processingSysex_; }
  void setProcessingSysex(bool processing) override { processingSysex_ = processing; }
  int32_t processingSysexIterationCount() const override { return iterationCount_; }
  void setProcessingSysexIterationCount(int32_t count) override { iterationCount_ = count; }
  std::vector<int32_t>& sysexArray() override { return sysexArray_; }
  const std::vector<int32_t>& sysexArray() const { return sysexArray_; }

 private:
  bool processingSysex_ = false;
  int32_t iterationCount_ = 0;
  std::vector<int32_t> sysexArray_;
};

}  // namespace wex
