#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/Composition.h"
#include "host/PlugInRegistry.h"
#include "host/ValueJSON.h"

namespace wex {

// What the page needs of MIDI beside the composition, each in a composition
// of its own so that the user's is left alone: a sender for message values
// sent to destinations (as `wexmidi send` does), and a receiver of every
// source for the monitor. Make and destroy on the main thread.
class MidiTools {
 public:
  // One message that arrived, as the monitor shows it.
  using MonitorSink = std::function<void(const ValueJSON::Json& line)>;

  MidiTools();
  ~MidiTools();
  MidiTools(const MidiTools&) = delete;
  MidiTools& operator=(const MidiTools&) = delete;

  // Listens to every source (called on the monitor's evaluation thread).
  void startMonitor(MonitorSink sink);
  void stopMonitor();

  // Sends the message values to the destinations named (exact name, or a
  // part of one name; every destination when none is named). Returns the
  // names sent to. False, with the reason, when a value is no message, a
  // name matches no destination or several, or there is no destination.
  // Call on the main thread.
  bool send(const std::vector<Value>& messages, const std::vector<std::string>& destinations,
            std::vector<std::string>* chosen, std::string* reason);

  // The monitor's line for a message value: value, type, channel, data, text.
  static ValueJSON::Json describe(const Value& value, double time);

 private:
  void monitorTick(double time);

  PlugInRegistry registry_;
  std::unique_ptr<Composition> sender_;
  std::unique_ptr<Composition> monitor_;
  MonitorSink sink_;
  uint64_t seenVersion_ = 0;  // monitor's evaluation thread
};

}  // namespace wex
