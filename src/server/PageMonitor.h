#pragma once

#include <chrono>
#include <string>

#include "midiio/SourceFollower.h"

namespace wex {

class CompositionServer;
class MIDIServices;

// The page's MIDI monitor: every source, those that appear while serving
// included, each message sent to the page as a "midi" event naming its
// source, and each source that comes or goes as a log line.
class PageMonitor {
 public:
  PageMonitor(MIDIServices& services, CompositionServer& server);

  // False, with the reason, when the services refuse a client.
  bool start(std::string* reason);
  // Follows the sources that came or went since; call it now and then.
  void update() { follower_.update(); }

 private:
  void received(const std::string& source, const OrvMIDIMessageList& messages, uint64_t arrival);

  CompositionServer& server_;
  const std::chrono::steady_clock::time_point startedAt_ = std::chrono::steady_clock::now();
  SourceFollower follower_;  // last: its callbacks end before the rest goes
};

}  // namespace wex
