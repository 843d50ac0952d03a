#pragma once

#include <memory>
#include <string>

#include "midi/OrvMIDIManager.h"

namespace wex {

// The sender patch's manager: lists the MIDI destinations only and publishes
// no virtual endpoints. Make it with OrvMIDIManager::create<MIDISender>().
class MIDISender : public OrvMIDIManager {
 public:
  void createVirtualNodes() override {}
  // Reloads the destinations (on the main thread) and tells the delegate.
  void setupChanged() override;
  // A destination of this name is never listed, so never sent to.
  std::string receivingNodeName() const override { return "foo"; }
  std::string sendingNodeName() const override { return "From wex MIDI"; }

  // Only "dst".
  OrvMIDISnapshot createSnapshot() const override;
  void loadSnapshot(const OrvMIDISnapshot* snapshot) override;

  // Every destination node counts what it cannot send in the one
  // SendFailures of the sender, which logs each cause once.
  std::shared_ptr<OrvMIDINode> makeSendingNode(MIDIEndpointRef destination) override;
  const SendFailures& sendFailures() const { return *sendFailures_; }

 private:
  const std::shared_ptr<SendFailures> sendFailures_ = std::make_shared<SendFailures>(ownerName());
};

}  // namespace wex
