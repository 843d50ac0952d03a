#include "patches/MIDI_14bit_MessagePlugIn.h"

#include "services/MIDIStatus.h"

namespace wex {

namespace {

AttributeDictionary inputAttributes(const char* name, uint64_t maximum) {
  return {{QCPortAttributeNameKey, Value::string(name)},
          {QCPortAttributeDefaultValueKey, Value::index(0)},
          {QCPortAttributeMaximumValueKey, Value::index(maximum)}};
}

}  // namespace

AttributeDictionary MIDI_14bit_MessagePlugIn::attributes() {
  return {{QCPlugInAttributeNameKey, Value::string("wex MIDI 14bit CC Message")},
          {QCPlugInAttributeDescriptionKey,
           Value::string("Constructs the two control change messages requred for 14 bit "
                         "controll change messages.")}};
}

std::vector<QCPropertyPortDeclaration> MIDI_14bit_MessagePlugIn::propertyPorts() {
  return {{"inputChannel", QCPortTypeIndex},
          {"inputControllerNumber", QCPortTypeIndex},
          {"input14Value", QCPortTypeIndex},
          {"outputMSB", QCPortTypeIndex},
          {"outputLSB", QCPortTypeIndex}};
}

std::optional<AttributeDictionary> MIDI_14bit_MessagePlugIn::attributesForPropertyPortWithKey(
    const std::string& key) {
  if (key == "inputChannel") return inputAttributes("Channel", 15);
  if (key == "inputControllerNumber") return inputAttributes("Controller Number", 31);
  if (key == "input14Value") return inputAttributes("Value", 16383);
  if (key == "outputMSB")
    return AttributeDictionary{{QCPortAttributeNameKey, Value::string("MSB")}};
  if (key == "outputLSB")
    return AttributeDictionary{{QCPortAttributeNameKey, Value::string("LSB")}};
  return std::nullopt;
}

std::vector<std::string> MIDI_14bit_MessagePlugIn::sortedPropertyPortKeys() {
  return {"inputChannel", "inputControllerNumber", "input14Value", "outputMSB", "outputLSB"};
}

bool MIDI_14bit_MessagePlugIn::execute(QCPlugInContext&, double, const Value&) {
  const bool changed = didValueForInputKeyChange("inputChannel") ||
                       didValueForInputKeyChange("inputControllerNumber") ||
                       didValueForInputKeyChange("input14Value");
  if (!changed) return true;
  const uint64_t head = (inputChannel() | kMIDIControlChange) << 16;
  const uint64_t controller = inputControllerNumber();
  const uint64_t value = input14Value();
  outputMSB = head | (controller << 8) | ((value >> 7) & 0x7F);
  outputLSB = head | ((controller + 32) << 8) | (value & 0x7F);
  return true;
}

}  // namespace wex
