#pragma once

#include "midi/OrvMIDIReadTarget.h"

namespace wex {

// What a node or a manager tells its delegate. Both operations are optional:
// a delegate overrides the ones it wants; the others do nothing.
class OrvMIDIDelegateProtocol {
 public:
  virtual ~OrvMIDIDelegateProtocol() = default;

  // Messages completed in one read callback, in arrival order; never empty.
  // Called on a thread of the MIDI services.
  virtual void receivedMIDI(const OrvMIDIMessageList& messages) { (void)messages; }
  // The machine's MIDI setup changed.
  virtual void setupChanged() {}
};

}  // namespace wex
