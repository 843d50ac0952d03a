#include "patches/MidiReceiver.h"

namespace wex {

OrvMIDIMessageList MidiReceiver::startListening(OrvMIDIDelegateProtocol* delegate) {
  std::lock_guard lock(earlyMutex_);
  setDelegate(delegate);
  listening_.store(true);
  return std::move(early_);
}

// A callback that finds the manager not listening yet takes the lock, so it
// either keeps its messages before startListening() takes them, or passes
// them on after: the order of arrival holds.
void MidiReceiver::receivedMIDI(const OrvMIDIMessageList& messages) {
  if (!listening_.load() && !delegate()) {
    std::lock_guard lock(earlyMutex_);
    if (!listening_.load() && !delegate()) {
      for (const auto& message : messages) {
        if (early_.size() < kMaxEarlyMessages) {
          early_.push_back(message);
        } else {
          earlyDropped_.fetch_add(1);
        }
      }
      return;
    }
  }
  OrvMIDIManager::receivedMIDI(messages);
}

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
