#include "patches/MIDIReceiver.h"

namespace wex {

OrvMIDIMessageList MIDIReceiver::startListening(OrvMIDIDelegateProtocol* delegate) {
  std::lock_guard lock(earlyMutex_);
  setDelegate(delegate);
  listening_.store(true);
  return std::move(early_);
}

// A callback that finds the manager not listening yet takes the lock, so it
// either keeps its messages before startListening() takes them, or passes
// them on after: the order of arrival holds.
void MIDIReceiver::receivedMIDI(const OrvMIDIMessageList& messages) {
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

void MIDIReceiver::setupChanged() {
  loadMIDIInputSources();
  if (OrvMIDIDelegateProtocol* listener = delegate()) listener->setupChanged();
}

OrvMIDISnapshot MIDIReceiver::createSnapshot() const {
  return {{kOrvMIDISnapshotSources, flagsOf(sourceArray())}};
}

void MIDIReceiver::loadSnapshot(const OrvMIDISnapshot* snapshot) {
  if (!snapshot) return;
  auto sources = snapshot->find(kOrvMIDISnapshotSources);
  if (sources != snapshot->end()) applyFlags(sourceArray(), sources->second);
}

}  // namespace wex
