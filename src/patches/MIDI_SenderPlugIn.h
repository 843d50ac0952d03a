#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/QCPlugIn.h"
#include "host/QCPlugInClass.h"
#include "host/QCPropertyPort.h"
#include "midi/OrvMIDIDelegateProtocol.h"
#include "patches/MIDISender.h"

namespace wex {

// "wex MIDI Sender": whenever its "Messages" input changed, or "Resend" is
// true, sends every element of that structure (message numbers and sysex
// strings) to the enabled destinations, one message at a time in element
// order. The destinations' enabled flags are saved as "snapshot".
class MIDI_SenderPlugIn : public QCPlugIn, public OrvMIDIDelegateProtocol {
 public:
  static constexpr const char* kPanelName = "Settings";
  static constexpr const char* kSnapshotKey = "snapshot";

  MIDI_SenderPlugIn();
  ~MIDI_SenderPlugIn() override;

  static AttributeDictionary attributes();
  static std::vector<QCPropertyPortDeclaration> propertyPorts();
  static std::optional<AttributeDictionary> attributesForPropertyPortWithKey(
      const std::string& key);
  static std::vector<std::string> sortedPropertyPortKeys();
  static QCPlugInExecutionMode executionMode() { return QCPlugInExecutionMode::Consumer; }
  static QCPlugInTimeMode timeMode() { return QCPlugInTimeMode::None; }
  static std::optional<std::vector<std::string>> plugInKeys();

  bool execute(QCPlugInContext& context, double time, const Value& arguments) override;
  std::unique_ptr<QCPlugInViewController> createViewController() override;

  // "snapshot": {"dst": {name: enabled, ...}}. Restoring refuses (with
  // QCPlugInHostException) a value of any other shape, before changing a flag.
  Value serializedValueForKey(const std::string& key) override;
  void setSerializedValue(const Value& value, const std::string& key) override;

  MIDISender& midiManager() const { return *midiManager_; }
  // Messages that could not be sent to a destination so far (each cause is
  // logged once).
  uint64_t unsentMessages() const { return midiManager_->sendFailures().total(); }

  QCInputPort<bool> inputResend{*this, "inputResend"};
  QCInputPort<QCStructure> inputMessages{*this, "inputMessages"};

 private:
  void sendElement(const Value& element, MIDITimeStamp arrival = 0);

  std::shared_ptr<MIDISender> midiManager_;
};

}  // namespace wex
