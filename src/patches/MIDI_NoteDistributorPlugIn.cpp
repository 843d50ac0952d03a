#include "patches/MIDI_NoteDistributorPlugIn.h"

#include "patches/NoteDistributorSettingsController.h"
#include "services/MIDIStatus.h"

namespace wex {

MIDI_NoteDistributorPlugIn::MIDI_NoteDistributorPlugIn()
    : DistributorPlugIn("MIDI_NoteDistributorPlugIn", kSettingKey) {
  makeInitialPorts();
}

AttributeDictionary MIDI_NoteDistributorPlugIn::attributes() {
  return {{QCPlugInAttributeNameKey, Value::string("wex MIDI Note Message Distributor")},
          {QCPlugInAttributeDescriptionKey,
           Value::string("Distributes note on/off messages to their individual output ports. The "
                         "Note ports output a boolean for note on/off and Velocity ports output "
                         "an index in the 0-127 range.")}};
}

std::vector<QCPropertyPortDeclaration> MIDI_NoteDistributorPlugIn::propertyPorts() {
  return inputPropertyPorts();
}

std::optional<AttributeDictionary> MIDI_NoteDistributorPlugIn::attributesForPropertyPortWithKey(
    const std::string& key) {
  return inputPortAttributes(key);
}

std::optional<std::vector<std::string>> MIDI_NoteDistributorPlugIn::plugInKeys() {
  return std::vector<std::string>{kSettingKey};
}

void MIDI_NoteDistributorPlugIn::addPortsFor(int n) {
  addOutputPortWithType(QCPortTypeBoolean, noteKey(n),
                        {{QCPortAttributeNameKey, Value::string(noteName(n))}});
  addOutputPortWithType(QCPortTypeIndex, velocityKey(n),
                        {{QCPortAttributeNameKey, Value::string(velocityName(n))}});
}

void MIDI_NoteDistributorPlugIn::removePortsFor(int n) {
  removeOutputPortForKey(noteKey(n));
  removeOutputPortForKey(velocityKey(n));
}

bool MIDI_NoteDistributorPlugIn::hasPortsFor(int n) const {
  return portTable().hasPort(QCPortDirection::Output, noteKey(n));
}

bool MIDI_NoteDistributorPlugIn::execute(QCPlugInContext&, double, const Value&) {
  const auto channel = static_cast<uint32_t>(inputChannel());
  // Texts count by their leading integer; a sysex string reads as a number
  // below 256 and so is no note message.
  distribute(inputMessages(), true, [&](int32_t v, bool learning) {
    const uint32_t status = static_cast<uint32_t>(v >> 16);
    const uint32_t type = status & kMIDIKindMask;
    if ((status & kMIDIChannelMask) != channel || (type != kMIDINoteOff && type != kMIDINoteOn))
      return;
    const int note = (v >> 8) & 0x7F;
    if (learning) {
      learn(note);
      return;
    }
    try {
      setValueForOutputKey(Value::boolean(type == kMIDINoteOn), noteKey(note));
      setValueForOutputKey(Value::index(static_cast<uint64_t>(v & 0x7F)), velocityKey(note));
    } catch (const QCPlugInHostException&) {
      // The note has no ports.
    }
  });
  return true;
}

std::unique_ptr<QCPlugInViewController> MIDI_NoteDistributorPlugIn::createViewController() {
  return std::make_unique<NoteDistributorSettingsController>(*this, kPanelName);
}

}  // namespace wex
