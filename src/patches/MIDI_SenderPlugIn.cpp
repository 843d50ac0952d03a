#include "patches/MIDI_SenderPlugIn.h"

#include "host/Structure.h"
#include "patches/MessageValue.h"
#include "patches/SettingsController.h"
#include "patches/SupportLibrariesNotice.h"

namespace wex {

namespace {

Value snapshotValue(const OrvMIDISnapshot& snapshot) {
  std::vector<std::pair<std::string, Value>> lists;
  for (const auto& [listKey, flags] : snapshot) {
    std::vector<std::pair<std::string, Value>> entries;
    for (const auto& [name, enabled] : flags) entries.emplace_back(name, Value::boolean(enabled));
    lists.emplace_back(listKey, Value::structure(Structure::makeMap(std::move(entries))));
  }
  return Value::structure(Structure::makeMap(std::move(lists)));
}

[[noreturn]] void refuseSnapshot(const std::string& reason) {
  throw QCPlugInHostException("MIDI_SenderPlugIn \"snapshot\": " + reason);
}

// A keyed structure of keyed structures of booleans (numbers read as
// booleans too).
OrvMIDISnapshot snapshotFromValue(const Value& value) {
  if (!value.isStructure() || !value.asStructure()->isKeyed()) {
    refuseSnapshot("expected a keyed structure such as {\"dst\": {\"name\": true}}");
  }
  OrvMIDISnapshot snapshot;
  for (const auto& [listKey, list] : value.asStructure()->entries()) {
    if (!list.isStructure() || !list.asStructure()->isKeyed()) {
      refuseSnapshot("\"" + listKey + "\" must map endpoint names to booleans");
    }
    OrvMIDISnapshotFlags& flags = snapshot[listKey];
    for (const auto& [name, enabled] : list.asStructure()->entries()) {
      if (!enabled.isNumeric()) {
        refuseSnapshot("the flag of \"" + name + "\" in \"" + listKey + "\" is not a boolean");
      }
      flags[name] = enabled.toDouble() != 0.0;
    }
  }
  return snapshot;
}

}  // namespace

MIDI_SenderPlugIn::MIDI_SenderPlugIn() : midiManager_(OrvMIDIManager::create<MIDISender>()) {
  midiManager_->setDelegate(this);
}

// Whatever ends the patch (removal, the end of the program) leaves no note
// sounding on a destination.
MIDI_SenderPlugIn::~MIDI_SenderPlugIn() {
  midiManager_->releaseSoundingNotes();
  midiManager_.reset();
}

AttributeDictionary MIDI_SenderPlugIn::attributes() {
  return {{QCPlugInAttributeNameKey, Value::string("wex MIDI Sender")},
          {QCPlugInAttributeDescriptionKey,
           Value::string(std::string("Sends MIDI messages whenever the there is a change on the "
                                     "'Messages' input or the 'Resend' input is true. You give it "
                                     "a structure of messages, which are either numbers (for "
                                     "everything but sysex messages) or strings of numbers "
                                     "seperated by commas (for sysex messages). To create a "
                                     "number for a message do something like: ") +
                         "\r" + "(type|channel)<<16|data1<<8|data2" + "\r\r" +
                         kSupportLibrariesNotice)}};
}

std::vector<QCPropertyPortDeclaration> MIDI_SenderPlugIn::propertyPorts() {
  return {{"inputResend", QCPortTypeBoolean}, {"inputMessages", QCPortTypeStructure}};
}

std::optional<AttributeDictionary> MIDI_SenderPlugIn::attributesForPropertyPortWithKey(
    const std::string& key) {
  if (key == "inputResend") {
    return AttributeDictionary{{QCPortAttributeNameKey, Value::string("Resend")},
                               {QCPortAttributeDefaultValueKey, Value::boolean(false)}};
  }
  if (key == "inputMessages") {
    return AttributeDictionary{{QCPortAttributeNameKey, Value::string("Messages")}};
  }
  return std::nullopt;
}

std::vector<std::string> MIDI_SenderPlugIn::sortedPropertyPortKeys() {
  return {"inputResend", "inputMessages"};
}

std::optional<std::vector<std::string>> MIDI_SenderPlugIn::plugInKeys() {
  return std::vector<std::string>{kSnapshotKey};
}

Value MIDI_SenderPlugIn::serializedValueForKey(const std::string& key) {
  if (key == kSnapshotKey) return snapshotValue(midiManager_->createSnapshot());
  return QCPlugIn::serializedValueForKey(key);
}

void MIDI_SenderPlugIn::setSerializedValue(const Value& value, const std::string& key) {
  if (key != kSnapshotKey) {
    QCPlugIn::setSerializedValue(value, key);
    return;
  }
  const OrvMIDISnapshot snapshot = snapshotFromValue(value);
  midiManager_->loadSnapshot(&snapshot);
}

// Messages that came from a receiver in this evaluation keep the places
// they arrived at (the context carries their moments).
bool MIDI_SenderPlugIn::execute(QCPlugInContext& context, double, const Value&) {
  if (!didValueForInputKeyChange(inputMessages.key()) && !inputResend()) return true;
  const QCStructure messages = inputMessages();
  if (!messages) return true;
  const size_t count = messages->count();
  if (messages->isOrdered()) {
    const std::vector<uint64_t>* arrivals = context.momentsOf(messages.get());
    if (arrivals && arrivals->size() != count) arrivals = nullptr;
    for (size_t i = 0; i < count; ++i) sendElement(*messages->at(i), arrivals ? (*arrivals)[i] : 0);
  } else {
    // Keyed: only the keys "0" to count-1 are tried, in that order.
    for (size_t i = 0; i < count; ++i) {
      if (const Value* element = messages->find(std::to_string(i))) sendElement(*element);
    }
  }
  return true;
}

void MIDI_SenderPlugIn::sendElement(const Value& element, MIDITimeStamp arrival) {
  if (!element.isNumeric() && !element.isString()) return;
  midiManager_->sendMsgArrivedAt(MessageValue::read(element), arrival);
}

std::unique_ptr<QCPlugInViewController> MIDI_SenderPlugIn::createViewController() {
  return std::make_unique<SettingsController>(*this, kPanelName, *midiManager_);
}

}  // namespace wex
