#include "patches/MIDISender.h"

#include <memory>

namespace wex {

// The rebuild hands the notes the old nodes left sounding to the new ones.
void MIDISender::setupChanged() {
  loadMIDIOutputDestinations();
  if (OrvMIDIDelegateProtocol* listener = delegate()) listener->setupChanged();
}

std::shared_ptr<OrvMIDINode> MIDISender::makeSendingNode(MIDIEndpointRef destination) {
  auto node = OrvMIDIManager::makeSendingNode(destination);
  if (node) node->setSendFailures(sendFailures_);
  return node;
}

OrvMIDISnapshot MIDISender::createSnapshot() const {
  return {{kOrvMIDISnapshotDestinations, flagsOf(destArray())}};
}

void MIDISender::loadSnapshot(const OrvMIDISnapshot* snapshot) {
  if (!snapshot) return;
  auto destinations = snapshot->find(kOrvMIDISnapshotDestinations);
  if (destinations != snapshot->end()) applyFlags(destArray(), destinations->second);
}

}  // namespace wex
