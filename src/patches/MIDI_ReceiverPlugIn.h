#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/QCPlugIn.h"
#include "host/QCPlugInClass.h"
#include "host/QCPropertyPort.h"
#include "midi/OrvMIDIDelegateProtocol.h"
#include "patches/MIDIReceiver.h"

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
  // Beyond this many waiting messages the oldest are dropped, should the host
  // stop evaluating while MIDI keeps coming: several seconds of a saturated
  // USB MIDI link (some 20 MB), far more than normal use ever holds.
  static constexpr size_t kMaxPendingMessages = 262144;

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

  MIDIReceiver& midiManager() const { return *midiManager_; }
  // The pending list, copied under its lock; the setter stores a copy too.
  OrvMIDIMessageList receivedMessages() const;
  void setReceivedMessages(const OrvMIDIMessageList& messages);
  // Messages dropped so far because too many were waiting.
  uint64_t droppedMessages() const;

  QCOutputPort<QCStructure> outputMessages{*this, "outputMessages"};

 private:
  std::shared_ptr<MIDIReceiver> midiManager_;
  // Whether the packets' time stamps are arrival times.
  const bool stampsArrivals_;
  mutable std::mutex receivedMessagesLock_;
  std::deque<OrvMIDIMessagePtr> receivedMessages_;  // oldest first
  std::deque<MIDITimeStamp> receivedArrivals_;      // one for each; 0: not known
  uint64_t droppedMessages_ = 0;
  // Since the pending list last emptied, messages have been dropped.
  bool flooding_ = false;
  uint64_t droppedInFlood_ = 0;  // in the current flood, or the last one
  int32_t oldCount_ = 0;         // evaluation thread only
};

}  // namespace wex
