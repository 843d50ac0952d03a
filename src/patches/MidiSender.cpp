#include "patches/MidiSender.h"

#include <memory>

namespace wex {

// The rebuild hands the notes the old nodes left sounding to the new ones.
void MidiSender::setupChanged() {
  loadMIDIOutputDestinations();
  if (OrvMIDIDelegateProtocol* listener = delegate()) listener->setupChanged();
}

std::shared_ptr<OrvMIDINode> MidiSender::makeSendingNode(MIDIEndpointRef destination) {
  auto node = OrvMIDIManager::makeSendingNode(destination);
  if (node) node->setSendFailures(sendFailures_);
  return node;
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
