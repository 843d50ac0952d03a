#include "patches/MidiSender.h"

namespace wex {

void MidiSender::setupChanged() {
  loadMIDIOutputDestinations();
  if (OrvMIDIDelegateProtocol* listener = delegate()) listener->setupChanged();
}

OrvMIDISnapshot MidiSender::createSnapshot() const {
  return {{kOrvMIDISnapshotDestinations, flagsOf(destArray())}};
}

void MidiSender::loadSnapshot(const OrvMIDISnapshot* snapshot) {
  if (!snapshot) return;
  auto destinations = snapshot->find(kOrvMIDISnapshotDestinations);
  if (destinations != snapshot->end()) applyFlags(destArray(), destinations->second);
}

}  // namespace wex
