#include "patches/MIDI_MessagePlugIn.h"

#include "host/Structure.h"
#include "services/MIDIStatus.h"

namespace wex {

namespace {

const char* const kMenuItems[MIDI_MessagePlugIn::kTypeCount] = {
    "NoteOff",    "NoteOn",          "AfterTouch",     "ControlChange", "ProgramChange",
    "PitchWheel", "MTCQuarterFrame", "SongPosPointer", "SongSelect",    "TuneRequest",
    "Clock",      "Start",           "Continue",       "Stop",          "ActiveSense"};

AttributeDictionary inputAttributes(const char* name, uint64_t maximum) {
  return {{QCPortAttributeNameKey, Value::string(name)},
          {QCPortAttributeDefaultValueKey, Value::index(0)},
          {QCPortAttributeMaximumValueKey, Value::index(maximum)}};
}

}  // namespace

const std::array<uint8_t, MIDI_MessagePlugIn::kTypeCount>& MIDI_MessagePlugIn::typeTable() {
  static const std::array<uint8_t, kTypeCount> table = {
      kMIDINoteOff,   kMIDINoteOn,       kMIDIPolyPressure, kMIDIControlChange, kMIDIProgramChange,
      kMIDIPitchBend, kMIDIQuarterFrame, kMIDISongPosition, kMIDISongSelect,    kMIDITuneRequest,
      kMIDIClock,     kMIDIStart,        kMIDIContinue,     kMIDIStop,          kMIDIActiveSensing};
  return table;
}

AttributeDictionary MIDI_MessagePlugIn::attributes() {
  return {{QCPlugInAttributeNameKey, Value::string("wex MIDI Message")},
          {QCPlugInAttributeDescriptionKey,
           Value::string("Constructs a midi message.\rIt basically just does: "
                         "(type|channel)<<16|data1<<8|data2")}};
}

std::vector<QCPropertyPortDeclaration> MIDI_MessagePlugIn::propertyPorts() {
  return {{"inputMessageType", QCPortTypeIndex},
          {"inputChannel", QCPortTypeIndex},
          {"inputData1", QCPortTypeIndex},
          {"inputData2", QCPortTypeIndex},
          {"outputMessage", QCPortTypeIndex}};
}

std::optional<AttributeDictionary> MIDI_MessagePlugIn::attributesForPropertyPortWithKey(
    const std::string& key) {
  if (key == "inputMessageType") {
    auto attributes = inputAttributes("Message Type", kTypeCount - 1);
    std::vector<Value> items;
    for (const char* item : kMenuItems) items.push_back(Value::string(item));
    attributes[QCPortAttributeMenuItemsKey] = Value::structure(Structure::makeList(items));
    return attributes;
  }
  if (key == "inputChannel") return inputAttributes("Channel", 15);
  if (key == "inputData1") return inputAttributes("Data 1", 127);
  if (key == "inputData2") return inputAttributes("Data 2", 127);
  if (key == "outputMessage") {
    return AttributeDictionary{{QCPortAttributeNameKey, Value::string("Message")}};
  }
  return std::nullopt;
}

std::vector<std::string> MIDI_MessagePlugIn::sortedPropertyPortKeys() {
  return {"inputMessageType", "inputChannel", "inputData1", "inputData2", "outputMessage"};
}

bool MIDI_MessagePlugIn::execute(QCPlugInContext&, double, const Value&) {
  const bool changed =
      didValueForInputKeyChange("inputMessageType") || didValueForInputKeyChange("inputChannel") ||
      didValueForInputKeyChange("inputData1") || didValueForInputKeyChange("inputData2");
  if (!changed) return true;
  const uint64_t typeIndex = inputMessageType();
  // The host keeps the index within the menu; should one beyond it arrive
  // anyway, the output stays as it is rather than reading past the table.
  if (typeIndex >= kTypeCount) return true;
  const uint64_t type = typeTable()[typeIndex];
  const uint64_t channelPart = type < kMIDIFirstSystem ? inputChannel() : 0;
  outputMessage = ((type | channelPart) << 16) | (inputData1() << 8) | inputData2();
  return true;
}

}  // namespace wex
