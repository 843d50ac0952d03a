#include "server/MidiTools.h"

#include <cmath>

#include "host/Structure.h"
#include "midi/OrvMIDIMessage.h"
#include "patches/MessageValue.h"
#include "patches/WexPatches.h"
#include "server/EndpointChooser.h"
#include "support/MainThread.h"

namespace wex {

namespace {

using Json = ValueJSON::Json;

constexpr const char* kSender = "send";
constexpr const char* kMonitor = "monitor";
constexpr const char* kMonitorOutput = "outputMessages";
// Arrivals ask for a tick at once; this is only the idle rate.
constexpr double kMonitorRate = 10;

}  // namespace

MidiTools::MidiTools() {
  registerWexPatches(registry_);
  sender_ = std::make_unique<Composition>(registry_);
  sender_->addPatch(kSender, "MIDI_SenderPlugIn");
  monitor_ = std::make_unique<Composition>(registry_);
  monitor_->addPatch(kMonitor, "MIDI_ReceiverPlugIn");
}

MidiTools::~MidiTools() {
  stopMonitor();
  sender_->closeAllPanels();
  monitor_->closeAllPanels();
}

void MidiTools::startMonitor(MonitorSink sink) {
  if (monitor_->running()) return;
  sink_ = std::move(sink);
  std::vector<std::string> chosen;
  std::string reason;
  if (auto* panel = monitor_->openPanel(kMonitor)) {
    performOnMainThreadAndWait(
        [&] { EndpointChooser::choose(*panel, {}, "source", &chosen, &reason); });
  }
  monitor_->setTickObserver([this](double time) { monitorTick(time); });
  monitor_->start(kMonitorRate);
}

void MidiTools::stopMonitor() {
  if (!monitor_->running()) return;
  monitor_->stop();
  monitor_->setTickObserver(nullptr);
}

void MidiTools::monitorTick(double time) {
  auto port = monitor_->patch(kMonitor)->portTable().port(QCPortDirection::Output, kMonitorOutput);
  if (!port || port->version == seenVersion_) return;
  seenVersion_ = port->version;
  if (!port->value.isStructure() || !sink_) return;
  for (const Value& value : port->value.asStructure()->values()) sink_(describe(value, time));
}

Json MidiTools::describe(const Value& value, double time) {
  Json line{{"time", std::round(time * 1e6) / 1e6}, {"value", ValueJSON::toJSON(value)}};
  const auto message = MessageValue::read(value);
  if (!message) return line;
  line["type"] = message->type();
  line["channel"] = message->channel();
  if (const auto* sysex = message->sysexArray()) {
    line["sysex"] = *sysex;
  } else {
    line["data1"] = message->data1();
    line["data2"] = message->data2();
  }
  line["text"] = message->lengthyDescription().value_or(message->description());
  return line;
}

bool MidiTools::send(const std::vector<Value>& messages,
                     const std::vector<std::string>& destinations, std::vector<std::string>* chosen,
                     std::string* reason) {
  for (const auto& value : messages) {
    std::string why;
    if (!MessageValue::read(value, &why)) {
      *reason = ValueJSON::toJSON(value).dump() + " yields no message: " + why;
      return false;
    }
  }
  QCPlugInViewController* panel = sender_->openPanel(kSender);
  if (!panel || !EndpointChooser::choose(*panel, destinations, "destination", chosen, reason)) {
    return false;
  }
  if (chosen->empty()) {
    *reason = "there are no MIDI destinations";
    return false;
  }
  // The sender sends when its input changes: an empty list between two
  // sends of the same messages makes the second one a change too.
  const PortAddress input{kSender, "inputMessages"};
  sender_->setInputValue(input, Value::structure(Structure::makeList({})));
  sender_->evaluate(0);
  sender_->setInputValue(input, Value::structure(Structure::makeList(messages)));
  sender_->evaluate(0);
  return true;
}

}  // namespace wex
