#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/PortWatcher.h"
#include "host/Composition.h"
#include "osc/OscReceiver.h"
#include "osc/OscSender.h"
#include "server/DestinationSender.h"

namespace wex {

class ProgramContext;

// The composition's OSC face in run and serve. Out: each watched output that
// an evaluation assigns goes to every --osc-out target as
// /wexmidi/PATCH/PORT, all of one evaluation in one bundle, from the sender's
// own thread. In: /wexmidi/PATCH/PORT sets an input as --set does, and
// /wexmidi/send sends MIDI as `wexmidi send` does, both on the main thread
// between evaluations. A refused message is counted and logged once per
// address and cause; none ends the run.
class OscBridge {
 public:
  struct Options {
    std::vector<std::string> targets;  // --osc-out
    std::vector<std::string> watches;  // --osc-watch (none: every output)
    std::string listen;                // --osc-in (empty: none)
  };

  OscBridge(Composition& composition, std::string command)
      : composition_(composition), command_(std::move(command)) {}

  // Checks the options and opens the sockets (main thread): 0; 2 for a bad
  // option; 1 when a socket cannot be made. `destinations` sends /wexmidi/send's
  // MIDI; null: the bridge makes its own when it listens.
  int start(ProgramContext& context, const Options& options, DestinationSender* destinations);
  // On the evaluation thread, after each tick.
  void tick(double time);
  // Applies what came in (main thread).
  void performWaiting();
  // Sends what is owed, closes the sockets and says what was dropped or
  // refused on the context's error stream.
  void stop(ProgramContext& context);

 private:
  void post(const std::vector<PortWatcher::Change>& changes);
  void perform(const OscRequest& request);
  void send(const OscRequest& request);
  void refuse(const std::string& address, const std::string& cause);
  // Logs a refusal once per address and cause, for at most
  // kMostLoggedRefusals of them, so that a flood of made-up addresses
  // neither fills the log nor memory.
  void logRefusal(const std::string& address, const std::string& cause);

  static constexpr size_t kMostLoggedRefusals = 1000;

  Composition& composition_;
  const std::string command_;
  std::unique_ptr<OscSender> sender_;
  std::unique_ptr<PortWatcher> watcher_;  // evaluation thread, after start()
  std::unique_ptr<OscReceiver> receiver_;
  std::unique_ptr<DestinationSender> ownDestinations_;
  DestinationSender* destinations_ = nullptr;
  std::set<std::pair<std::string, std::string>> logged_;  // main thread
  uint64_t refusedHere_ = 0;                              // main thread
};

}  // namespace wex
