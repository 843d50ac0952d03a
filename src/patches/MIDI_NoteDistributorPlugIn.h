#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/QCPlugInClass.h"
#include "patches/DistributorPlugIn.h"

namespace wex {

// "wex MIDI Note Message Distributor": for each note on or off on the chosen
// channel, sets the boolean gate output "note%i" of its note (true for note
// on, false for note off) and the index output "velocity%i" to its velocity,
// for the notes enabled in the panel or learned. The enable list is saved as
// "notePorts".
class MIDI_NoteDistributorPlugIn : public DistributorPlugIn {
 public:
  static constexpr const char* kPanelName = "NoteDistributorSettings";
  static constexpr const char* kSettingKey = "notePorts";

  MIDI_NoteDistributorPlugIn();

  static AttributeDictionary attributes();
  static std::vector<QCPropertyPortDeclaration> propertyPorts();
  static std::optional<AttributeDictionary> attributesForPropertyPortWithKey(
      const std::string& key);
  static QCPlugInExecutionMode executionMode() { return QCPlugInExecutionMode::Processor; }
  static QCPlugInTimeMode timeMode() { return QCPlugInTimeMode::None; }
  static std::optional<std::vector<std::string>> plugInKeys();

  static std::string noteKey(int n) { return numberedKey("note", n); }
  static std::string noteName(int n) { return numberedKey("Note ", n); }
  static std::string velocityKey(int n) { return numberedKey("velocity", n); }
  static std::string velocityName(int n) { return numberedKey("Velocity ", n); }

  void enableNotePort(int n) { enablePort(n); }
  void disableNotePort(int n) { disablePort(n); }
  std::vector<bool> notePorts() const { return enableList(); }
  void setNotePorts(const std::vector<bool>& list) { setEnableList(list); }

  bool execute(QCPlugInContext& context, double time, const Value& arguments) override;
  std::unique_ptr<QCPlugInViewController> createViewController() override;

  QCInputPort<QCStructure> inputMessages{*this, "inputMessages"};
  QCInputPort<uint64_t> inputChannel{*this, "inputChannel"};

 protected:
  // Gate port first, then velocity port; a refused gate port skips the other.
  void addPortsFor(int n) override;
  void removePortsFor(int n) override;
  bool hasPortsFor(int n) const override;
};

}  // namespace wex
