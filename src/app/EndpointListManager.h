#pragma once

#include "midi/OrvMIDIManager.h"

namespace wex {

// A manager that lists the machine's sources and destinations and publishes
// no endpoints of its own, so listing changes nothing other programs see.
class EndpointListManager : public OrvMIDIManager {
 public:
  void createVirtualNodes() override {}
  // Reloads both lists and tells the delegate.
  void setupChanged() override;
};

}  // namespace wex
