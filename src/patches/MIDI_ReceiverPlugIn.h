#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/QCPlugIn.h"
#include "host/QCPlugInClass.h"
#include "host/QCPropertyPort.h"
#include "midi/OrvMIDIDelegateProtocol.h"
#include "patches/MidiReceiver.h"

namespace wex {

// "wex MIDI Receiver": at every evaluation its "Messages" output carries the
// message values of everything its enabled MIDI sources sent since the
// previous evaluation, oldest first. Messages arrive on a MIDI services thread
// and wait in a pending list until the evaluation thread takes them; each
// arrival asks the host for an evaluation at once, so MIDI goes through with
// the least delay.
class MIDI_ReceiverPlugIn : public QCPlugIn, public OrvMIDIDelegateProtocol {
 public:
  static constexpr const char* kPanelName = "ReceiverSettings";

  MIDI_ReceiverPlugIn();
  ~MIDI_ReceiverPlugIn() override;

  static AttributeDictionary attributes();
  static std::vector<QCPropertyPortDeclaration> propertyPorts();
  static std::optional<AttributeDictionary> attributesForPropertyPortWithKey(
      const std::string& key);
  static QCPlugInExecutionMode executionMode() { return QCPlugInExecutionMode::Provider; }
  static QCPlugInTimeMode timeMode() { return QCPlugInTimeMode::Idle; }

  bool execute(QCPlugInContext& context, double time, const Value& arguments) override;
  std::unique_ptr<QCPlugInViewController> createViewController() override;

  // OrvMIDIDelegateProtocol: appends one callback's messages as a block.
  void receivedMIDI(const OrvMIDIMessageList& messages) override;
  void setupChanged() override {}

  MidiReceiver& midiManager() const { return *midiManager_; }
  // The pending list, copied under its lock; the setter stores a copy too.
  OrvMIDIMessageList receivedMessages() const;
  void setReceivedMessages(const OrvMIDIMessageList& messages);

  QCOutputPort<QCStructure> outputMessages{*this, "outputMessages"};

 private:
  std::shared_ptr<MidiReceiver> midiManager_;
  mutable std::mutex receivedMessagesLock_;
  OrvMIDIMessageList receivedMessages_;
  int32_t oldCount_ = 0;  // evaluation thread only
};

}  // namespace wex
