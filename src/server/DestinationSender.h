#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/Composition.h"
#include "host/PlugInRegistry.h"
#include "host/ValueJSON.h"
#include "midi/OrvMIDIMessage.h"

namespace wex {

// Message values sent to destinations named, as `wexmidi send` sends them
// (for the page, the API and OSC), and the names of the destinations: a
// sender patch in a composition of its own, so that the user's is left
// alone. Make and destroy on the main thread.
class DestinationSender {
 public:
  DestinationSender();
  ~DestinationSender();
  DestinationSender(const DestinationSender&) = delete;
  DestinationSender& operator=(const DestinationSender&) = delete;

  // Sends the message values to the destinations named (exact name, or a
  // part of one name; every destination when none is named). Returns the
  // names sent to. False, with the reason, when a value is no message, a
  // name matches no destination or several, or there is no destination.
  // Call on the main thread.
  bool send(const std::vector<Value>& messages, const std::vector<std::string>& destinations,
            std::vector<std::string>* chosen, std::string* reason);

  // The destinations send can reach, by name. Call on the main thread.
  std::vector<std::string> destinations();

 private:
  PlugInRegistry registry_;
  std::unique_ptr<Composition> sender_;
};

}  // namespace wex
