#include "server/DestinationSender.h"

#include "host/Structure.h"
#include "midi/OrvMIDIMessage.h"
#include "patches/MIDI_SenderPlugIn.h"
#include "patches/MessageValue.h"
#include "patches/WexPatches.h"
#include "server/EndpointChooser.h"

namespace wex {

namespace {

using Json = ValueJSON::Json;

constexpr const char* kSender = "send";

}  // namespace

DestinationSender::DestinationSender() {
  registerWexPatches(registry_);
  sender_ = std::make_unique<Composition>(registry_);
  sender_->addPatch(kSender, "MIDI_SenderPlugIn");
}

DestinationSender::~DestinationSender() {
  sender_->closeAllPanels();
}

std::vector<std::string> DestinationSender::destinations() {
  QCPlugInViewController* panel = sender_->openPanel(kSender);
  return panel ? EndpointChooser::names(*panel) : std::vector<std::string>{};
}

bool DestinationSender::send(const std::vector<Value>& messages,
                             const std::vector<std::string>& destinations,
                             std::vector<std::string>* chosen, std::string* reason) {
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
  // A sysex too long for the patch goes to the destinations' nodes in
  // pieces, as `wexmidi send` sends it; the rest goes through the patch, in
  // order.
  auto& sender = dynamic_cast<MIDI_SenderPlugIn&>(*sender_->patch(kSender));
  const PortAddress input{kSender, "inputMessages"};
  std::vector<Value> batch;
  auto sendBatch = [&] {
    if (batch.empty()) return;
    sender_->setInputValue(input, Value::structure(Structure::makeList({})));
    sender_->evaluate(0);
    sender_->setInputValue(input, Value::structure(Structure::makeList(std::move(batch))));
    sender_->evaluate(0);
    batch.clear();
  };
  for (const auto& value : messages) {
    if (const auto longSysex = MessageValue::readLongSysex(value)) {
      sendBatch();
      for (const auto& node : sender.midiManager().destArray().readLocked())
        node->sendMsgInPieces(longSysex);
    } else {
      batch.push_back(value);
    }
  }
  sendBatch();
  return true;
}

}  // namespace wex
