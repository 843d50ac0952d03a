#include "patches/MIDI_ReceiverPlugIn.h"

#include "host/Structure.h"
#include "midi/OrvMIDIReadProc.h"
#include "patches/MessageValue.h"
#include "patches/ReceiverSettingsController.h"
#include "patches/SupportLibrariesNotice.h"
#include "services/MIDIServices.h"
#include "support/SystemLog.h"

namespace wex {

MIDI_ReceiverPlugIn::MIDI_ReceiverPlugIn()
    : midiManager_(OrvMIDIManager::create<MIDIReceiver>()),
      stampsArrivals_(currentMIDIServices().stampsArrivalTimes()) {
  // What the sources sent while the manager was being made comes before
  // anything that arrives from now on; its arrival times are not known.
  const OrvMIDIMessageList early = midiManager_->startListening(this);
  std::lock_guard lock(receivedMessagesLock_);
  receivedMessages_.insert(receivedMessages_.begin(), early.begin(), early.end());
  receivedArrivals_.insert(receivedArrivals_.begin(), early.size(), 0);
  droppedMessages_ += midiManager_->earlyMessagesDropped();
}

MIDI_ReceiverPlugIn::~MIDI_ReceiverPlugIn() {
  // Releasing the manager disposes of the source nodes' clients, which waits
  // for any read callback under way: none reaches this patch afterwards.
  midiManager_.reset();
}

AttributeDictionary MIDI_ReceiverPlugIn::attributes() {
  return {{QCPlugInAttributeNameKey, Value::string("wex MIDI Receiver")},
          {QCPlugInAttributeDescriptionKey,
           Value::string(std::string("MIDI Receiver returns a structure of received messages. The "
                                     "messages are either numbers (for everything but sysex "
                                     "messages) or strings of numbers seperated by commas (for "
                                     "sysex messages).") +
                         "\r\r" + kSupportLibrariesNotice)}};
}

std::vector<QCPropertyPortDeclaration> MIDI_ReceiverPlugIn::propertyPorts() {
  return {{"outputMessages", QCPortTypeStructure}};
}

std::optional<AttributeDictionary> MIDI_ReceiverPlugIn::attributesForPropertyPortWithKey(
    const std::string& key) {
  if (key == "outputMessages") {
    return AttributeDictionary{{QCPortAttributeNameKey, Value::string("Messages")}};
  }
  return std::nullopt;
}

// A flood is what overflows the pending list between two evaluations that
// empty it: its start is logged, with what the flood before dropped.
void MIDI_ReceiverPlugIn::receivedMIDI(const OrvMIDIMessageList& messages) {
  bool floodStarted = false;
  uint64_t droppedBefore = 0;
  {
    std::lock_guard lock(receivedMessagesLock_);
    receivedMessages_.insert(receivedMessages_.end(), messages.begin(), messages.end());
    for (size_t i = 0; i < messages.size(); ++i)
      receivedArrivals_.push_back(stampsArrivals_ ? readArrivalOf(i) : 0);
    if (receivedMessages_.size() > kMaxPendingMessages) {
      const size_t excess = receivedMessages_.size() - kMaxPendingMessages;
      receivedMessages_.erase(receivedMessages_.begin(), receivedMessages_.begin() + excess);
      receivedArrivals_.erase(receivedArrivals_.begin(), receivedArrivals_.begin() + excess);
      if (!flooding_) {
        flooding_ = floodStarted = true;
        droppedBefore = droppedInFlood_;
        droppedInFlood_ = 0;
      }
      droppedInFlood_ += excess;
      droppedMessages_ += excess;
    }
  }
  if (floodStarted && droppedBefore == 0) {
    SystemLog::writef("\twex MIDI Receiver: more than %zu messages waiting, dropping the oldest",
                      kMaxPendingMessages);
  } else if (floodStarted) {
    SystemLog::writef(
        "\twex MIDI Receiver: more than %zu messages waiting, dropping the oldest (%llu dropped "
        "in the flood before)",
        kMaxPendingMessages, static_cast<unsigned long long>(droppedBefore));
  }
  requestEvaluation();
}

// The messages go out with the moments they arrived at, where the MIDI
// services stamp them, so that a sender passing them on keeps their timing.
bool MIDI_ReceiverPlugIn::execute(QCPlugInContext& context, double, const Value&) {
  std::vector<Value> values;
  std::vector<uint64_t> arrivals;
  {
    std::lock_guard lock(receivedMessagesLock_);
    values.reserve(receivedMessages_.size());
    for (const auto& message : receivedMessages_) values.push_back(MessageValue::write(*message));
    if (stampsArrivals_) arrivals.assign(receivedArrivals_.begin(), receivedArrivals_.end());
    receivedMessages_.clear();
    receivedArrivals_.clear();
    flooding_ = false;
  }
  const auto count = static_cast<int32_t>(values.size());
  // An empty structure follows a non-empty one once, so that each message is
  // shown for one evaluation only.
  if (count > 0 || oldCount_ != 0) {
    QCStructure messages = Structure::makeList(std::move(values));
    if (!arrivals.empty()) context.noteMoments(messages, std::move(arrivals));
    outputMessages = std::move(messages);
  }
  oldCount_ = count;
  return true;
}

std::unique_ptr<QCPlugInViewController> MIDI_ReceiverPlugIn::createViewController() {
  return std::make_unique<ReceiverSettingsController>(*this, kPanelName, *midiManager_);
}

OrvMIDIMessageList MIDI_ReceiverPlugIn::receivedMessages() const {
  std::lock_guard lock(receivedMessagesLock_);
  return OrvMIDIMessageList(receivedMessages_.begin(), receivedMessages_.end());
}

void MIDI_ReceiverPlugIn::setReceivedMessages(const OrvMIDIMessageList& messages) {
  std::lock_guard lock(receivedMessagesLock_);
  receivedMessages_.assign(messages.begin(), messages.end());
  receivedArrivals_.assign(messages.size(), 0);
}

uint64_t MIDI_ReceiverPlugIn::droppedMessages() const {
  std::lock_guard lock(receivedMessagesLock_);
  return droppedMessages_;
}

}  // namespace wex
