#pragma once

#include "midi/OrvMIDIReadTarget.h"

namespace wex {

// A read target keeps the system exclusive state between callbacks in itself;
// subclasses say where the completed messages go.
using OrvMIDISysexStateTarget = OrvMIDIReadTarget;

}  // namespace wex
