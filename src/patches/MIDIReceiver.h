#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "midi/OrvMIDIManager.h"

namespace wex {

// The receiver patch's manager: lists the MIDI sources only, publishes no
// virtual endpoints, and reports what its enabled sources send to the patch.
// Make it with OrvMIDIManager::create<MIDIReceiver>().
//
// Its sources are connected as it is made, before the patch can be its
// delegate, and on a slow machine making the nodes of many sources takes a
// while: what they receive meanwhile is kept (up to kMaxEarlyMessages) until
// the patch takes it with startListening(). A delegate set with setDelegate()
// gets what arrives from then on, as with any manager.
class MIDIReceiver : public OrvMIDIManager {
 public:
  static constexpr size_t kMaxEarlyMessages = 262144;

  // Makes `delegate` the delegate and hands over, oldest first, what arrived
  // before; messages that arrive from now on go to the delegate. Call once.
  OrvMIDIMessageList startListening(OrvMIDIDelegateProtocol* delegate);
  // Messages that arrived before startListening() beyond kMaxEarlyMessages.
  uint64_t earlyMessagesDropped() const { return earlyDropped_.load(); }

  void receivedMIDI(const OrvMIDIMessageList& messages) override;
  void createVirtualNodes() override {}
  // Reloads the sources (on the main thread) and tells the delegate.
  void setupChanged() override;
  // A source of this name is never listed.
  std::string sendingNodeName() const override { return "poo"; }

  // Only "src".
  OrvMIDISnapshot createSnapshot() const override;
  void loadSnapshot(const OrvMIDISnapshot* snapshot) override;

 private:
  std::atomic<bool> listening_{false};  // set once, with earlyMutex_ held
  std::mutex earlyMutex_;
  OrvMIDIMessageList early_;  // guarded by earlyMutex_
  std::atomic<uint64_t> earlyDropped_{0};
};

}  // namespace wex
