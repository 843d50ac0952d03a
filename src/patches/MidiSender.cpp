#include "patches/MidiSender.h"

#include <map>
#include <memory>

namespace wex {

// The rebuild makes new nodes; each takes over the sounding notes of the old
// node of its destination, so that they are still released later.
void MidiSender::setupChanged() {
  std::map<std::string, std::shared_ptr<SoundingNotes>> sounding;
  for (const auto& node : destArray().readLocked()) {
    if (node->name()) sounding[*node->name()] = node->soundingNotes();
  }
  loadMIDIOutputDestinations();
  for (const auto& node : destArray().readLocked()) {
    if (!node->name()) continue;
    auto carried = sounding.find(*node->name());
    if (carried != sounding.end()) node->adoptSoundingNotes(carried->second);
  }
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
