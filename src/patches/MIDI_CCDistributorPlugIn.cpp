#include "patches/MIDI_CCDistributorPlugIn.h"

#include "patches/CCDistributorSettingsController.h"
#include "services/MIDIStatus.h"

namespace wex {

MIDI_CCDistributorPlugIn::MIDI_CCDistributorPlugIn()
    : DistributorPlugIn("MIDI_CCDistributorPlugIn", kSettingKey) {
  makeInitialPorts();
}

AttributeDictionary MIDI_CCDistributorPlugIn::attributes() {
  return {{QCPlugInAttributeNameKey, Value::string("wex MIDI CC Message Distributor")},
          {QCPlugInAttributeDescriptionKey,
           Value::string("Distributes control change messages to their individual ports. The "
                         "ports output the controller value as an index in the 0-127 range.")}};
}

std::vector<QCPropertyPortDeclaration> MIDI_CCDistributorPlugIn::propertyPorts() {
  return inputPropertyPorts();
}

std::optional<AttributeDictionary> MIDI_CCDistributorPlugIn::attributesForPropertyPortWithKey(
    const std::string& key) {
  return inputPortAttributes(key);
}

std::optional<std::vector<std::string>> MIDI_CCDistributorPlugIn::plugInKeys() {
  return std::vector<std::string>{kSettingKey};
}

void MIDI_CCDistributorPlugIn::addPortsFor(int n) {
  addOutputPortWithType(QCPortTypeIndex, controllerKey(n),
                        {{QCPortAttributeNameKey, Value::string(controllerName(n))}});
}

void MIDI_CCDistributorPlugIn::removePortsFor(int n) {
  removeOutputPortForKey(controllerKey(n));
}

bool MIDI_CCDistributorPlugIn::hasPortsFor(int n) const {
  return portTable().hasPort(QCPortDirection::Output, controllerKey(n));
}

bool MIDI_CCDistributorPlugIn::execute(QCPlugInContext&, double, const Value&) {
  const auto channel = static_cast<uint32_t>(inputChannel());
  distribute(inputMessages(), false, [&](int32_t v, bool learning) {
    const uint32_t status = static_cast<uint32_t>(v >> 16);
    if ((status & kMIDIChannelMask) != channel || (status & kMIDIKindMask) != kMIDIControlChange)
      return;
    const int controller = (v >> 8) & 0x7F;
    if (learning) {
      learn(controller);
      return;
    }
    try {
      setValueForOutputKey(Value::index(static_cast<uint64_t>(v & 0x7F)),
                           controllerKey(controller));
    } catch (const QCPlugInHostException&) {
      // The controller has no port.
    }
  });
  return true;
}

std::unique_ptr<QCPlugInViewController> MIDI_CCDistributorPlugIn::createViewController() {
  return std::make_unique<CCDistributorSettingsController>(*this, kPanelName);
}

}  // namespace wex
