#pragma once

#include <string>

#include "midi/OrvMIDIManager.h"

namespace wex {

// The receiver patch's manager: lists the MIDI sources only, publishes no
// virtual endpoints, and reports what its enabled sources send to the patch.
// Make it with OrvMIDIManager::create<MidiReceiver>().
class MidiReceiver : public OrvMIDIManager {
 public:
  void createVirtualNodes() override {}
  // Reloads the sources (on the main thread) and tells the delegate.
  void setupChanged() override;
  // A source of this name is never listed.
  std::string sendingNodeName() const override { return "poo"; }

  // Only "src".
  OrvMIDISnapshot createSnapshot() const override;
  void loadSnapshot(const OrvMIDISnapshot* snapshot) override;
};

}  // namespace wex
