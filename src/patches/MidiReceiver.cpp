#include "patches/MidiReceiver.h"

namespace wex {

void MidiReceiver::setupChanged() {
  loadMIDIInputSources();
  if (OrvMIDIDelegateProtocol* listener = delegate()) listener->setupChanged();
}

OrvMIDISnapshot MidiReceiver::createSnapshot() const {
  return {{kOrvMIDISnapshotSources, flagsOf(sourceArray())}};
}

void MidiReceiver::loadSnapshot(const OrvMIDISnapshot* snapshot) {
  if (!snapshot) return;
  auto sources = snapshot->find(kOrvMIDISnapshotSources);
  if (sources != snapshot->end()) applyFlags(sourceArray(), sources->second);
}

}  // namespace wex
