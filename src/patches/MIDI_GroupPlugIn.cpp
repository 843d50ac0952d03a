#include "patches/MIDI_GroupPlugIn.h"

#include "host/QCPlugInViewController.h"
#include "host/Structure.h"

namespace wex {

MIDI_GroupPlugIn::MIDI_GroupPlugIn() {
  numberOfMessages_ = 1;
  addMessageInput(0);
  bindSetting(
      "numberOfMessages", Value::Type::Index, [this] { return Value::index(numberOfMessages()); },
      [this](const Value& value) {
        // A saved number beyond any sensible composition would make that many
        // ports; refuse it rather than exhaust memory.
        if (value.asIndex() > kMaximumSavedMessages) {
          throw QCPlugInHostException("numberOfMessages " + std::to_string(value.asIndex()) +
                                      " is above the limit of " +
                                      std::to_string(kMaximumSavedMessages));
        }
        setNumberOfMessages(value.asIndex());
      });
}

AttributeDictionary MIDI_GroupPlugIn::attributes() {
  return {{QCPlugInAttributeNameKey, Value::string("wex MIDI Message Collector")},
          {QCPlugInAttributeDescriptionKey,
           Value::string("Midi Collector makes a structure from all the inputs that changed "
                         "value. If 'Send All' is set to true it makes the structure from all "
                         "connected inputs.")}};
}

std::vector<QCPropertyPortDeclaration> MIDI_GroupPlugIn::propertyPorts() {
  return {{"inputSendAll", QCPortTypeBoolean}, {"outputMessages", QCPortTypeStructure}};
}

std::optional<AttributeDictionary> MIDI_GroupPlugIn::attributesForPropertyPortWithKey(
    const std::string& key) {
  if (key == "outputMessages") {
    return AttributeDictionary{{QCPortAttributeNameKey, Value::string("Messages")}};
  }
  if (key == "inputSendAll") {
    return AttributeDictionary{{QCPortAttributeNameKey, Value::string("Send All")}};
  }
  return std::nullopt;
}

std::optional<std::vector<std::string>> MIDI_GroupPlugIn::plugInKeys() {
  return std::vector<std::string>{"numberOfMessages"};
}

std::string MIDI_GroupPlugIn::messageKey(uint64_t index) {
  return "message" + std::to_string(index);
}

std::string MIDI_GroupPlugIn::messageName(uint64_t index) {
  return "Message " + std::to_string(index + 1);
}

void MIDI_GroupPlugIn::addMessageInput(uint64_t index) {
  addInputPortWithType(QCPortTypeNumber, messageKey(index),
                       {{QCPortAttributeNameKey, Value::string(messageName(index))}});
}

void MIDI_GroupPlugIn::setNumberOfMessages(uint64_t n) {
  std::lock_guard lock(resizeMutex_);
  const uint64_t current = numberOfMessages_.load();
  for (uint64_t i = n; i < current; ++i) removeInputPortForKey(messageKey(i));
  for (uint64_t i = current; i < n; ++i) addMessageInput(i);
  numberOfMessages_ = n;
}

bool MIDI_GroupPlugIn::execute(QCPlugInContext&, double, const Value&) {
  const uint64_t count = numberOfMessages_.load();
  std::vector<Value> gathered;
  gathered.reserve(count);
  for (uint64_t i = 0; i < count; ++i) {
    const std::string key = messageKey(i);
    if (!didValueForInputKeyChange(key) && !inputSendAll()) continue;
    Value value = valueForInputKey(key);
    if (!value.isNone()) gathered.push_back(std::move(value));
  }
  if (!gathered.empty()) outputMessages = Structure::makeList(std::move(gathered));
  return true;
}

std::unique_ptr<QCPlugInViewController> MIDI_GroupPlugIn::createViewController() {
  return std::make_unique<QCPlugInViewController>(*this, "SettingsForMIDIGroup");
}

}  // namespace wex
