#pragma once

#include <cstdint>

#include "services/MIDITypes.h"

namespace wex {

// An open system exclusive message is abandoned when this many callbacks have
// begun since it was opened without its end arriving.
constexpr int32_t kMaxSysexCallbacks = 128;

// The read callback of receiving nodes. readProcRefCon is the node's
// OrvMIDIReadTarget; srcConnRefCon is not used. Turns the bytes of the list
// into messages, keeping an unfinished system exclusive message across
// callbacks, and hands the messages completed in this call to the target in
// one list (nothing when none was completed).
void myMIDIReadProc(const MIDIPacketList* pktlist, void* readProcRefCon, void* srcConnRefCon);

// While a read callback hands its messages over (on its thread): the time
// stamp of the packet in which the message at `index` of the list began, or
// the one it ended in for a system exclusive message; 0 outside a callback.
// With services that stamp arrival times, when the message arrived.
MIDITimeStamp readArrivalOf(size_t index);

}  // namespace wex
