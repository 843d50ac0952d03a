#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/Composition.h"
#include "host/PlugInRegistry.h"
#include "host/Value.h"

namespace wex::test {

// A composition with a receiver patch "rx" and a sender patch "tx" on the
// MIDI services installed now, evaluating on its own thread, with panels
// opened and edited on the main thread as a user does. It keeps every
// message value the receiver puts out, in the order put out.
class GuestComposition {
 public:
  static constexpr const char* kReceiver = "rx";
  static constexpr const char* kSender = "tx";

  GuestComposition();
  ~GuestComposition();
  GuestComposition(const GuestComposition&) = delete;
  GuestComposition& operator=(const GuestComposition&) = delete;

  void addReceiver();
  void addSender();
  // Evaluates at 100 ticks a second.
  void start();
  uint64_t tickCount() const { return composition_->tickCount(); }

  // The endpoints listed in the patch's panel; opening it rescans them.
  std::vector<std::string> panelNames(const std::string& patchId);
  // Ticks, in the patch's panel, exactly the endpoints named.
  void enableOnly(const std::string& patchId, const std::set<std::string>& names);
  void closePanel(const std::string& patchId);

  // The sender's "Messages" input.
  void send(const std::vector<Value>& messages);

  std::vector<Value> received() const;

 private:
  void collectReceiverOutput();

  PlugInRegistry registry_;
  std::unique_ptr<Composition> composition_;
  mutable std::mutex receivedMutex_;
  std::vector<Value> received_;
  uint64_t receiverVersion_ = 0;  // evaluation thread only
};

}  // namespace wex::test
