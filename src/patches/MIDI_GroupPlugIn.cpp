#include "patches/MIDI_GroupPlugIn.h"

#include <cmath>
#include <sstream>

#include "host/QCPlugInViewController.h"
#include "host/Structure.h"

namespace wex {

MIDI_GroupPlugIn::MIDI_GroupPlugIn() {
  numberOfMessages_ = 1;
  addMessageInput(0);
  bindSetting(
      "numberOfMessages", Value::Type::Index, [this] { return Value::index(numberOfMessages()); },
      [this](const Value& value) { setNumberOfMessages(checkedNumberOfMessages(value)); });
}

// A saved number must be whole and in range: -1, 2.5 or true would otherwise
// be converted quietly (-1 to 0, removing every input), and a number beyond
// any sensible composition would make that many ports.
uint64_t MIDI_GroupPlugIn::checkedNumberOfMessages(const Value& value) {
  const bool whole = value.isIndex() || (value.isNumber() && std::isfinite(value.asNumber()) &&
                                         std::trunc(value.asNumber()) == value.asNumber());
  const double number = value.isIndex() ? static_cast<double>(value.asIndex()) : value.toDouble();
  if (!whole || number < 0 || number > static_cast<double>(kMaximumSavedMessages)) {
    std::ostringstream shown;
    if (value.isIndex()) {
      shown << value.asIndex();
    } else if (value.isNumber()) {
      shown << number;
    } else {
      shown << Value::typeNameWithArticle(value.type());
    }
    throw QCPlugInHostException("numberOfMessages takes a whole number from 0 to " +
                                std::to_string(kMaximumSavedMessages) + ", got " + shown.str());
  }
  return static_cast<uint64_t>(number);
}

void MIDI_GroupPlugIn::setSerializedValue(const Value& value, const std::string& key) {
  if (key == "numberOfMessages") {
    setNumberOfMessages(checkedNumberOfMessages(value));
    return;
  }
  QCPlugIn::setSerializedValue(value, key);
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
