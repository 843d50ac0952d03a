#include "midi/OrvMIDINode.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "midi/FeedbackWatch.h"
#include "midi/OrvMIDIReadProc.h"
#include "midi/WirePieces.h"
#include "services/MIDIPacketList.h"
#include "services/MIDIServices.h"
#include "services/MIDIStatus.h"
#include "support/SystemLog.h"

namespace wex {

namespace {

constexpr const char* kClientName = "clientName";
constexpr const char* kPortName = "portName";

void logStatus(const char* format, OSStatus status) {
  SystemLog::writef(format, static_cast<long>(status));
}

// Runs one creation step: on failure logs the step's line and reports false.
bool succeeded(OSStatus status, const char* format) {
  if (status == noErr) return true;
  logStatus(format, status);
  return false;
}

constexpr const char* kCauseNoRoom = "no room";

}  // namespace

static_assert(OrvMIDINode::kPacketListSize <= SendPacker::kMaxEvents,
              "the packer keeps an entry for every event a list can hold");

OrvMIDINode::OrvMIDINode(Key) {}

// Disposing of the client ends its ports, connection and virtual endpoint and
// waits for a callback of it that may still be running, so no callback
// reaches this node once the client is gone.
OrvMIDINode::~OrvMIDINode() {
  properties_.clear();
  if (clientRef_ != 0) {
    wex::MIDIClientDispose(clientRef_);
    clientRef_ = 0;
  }
  name_.reset();
  sysexArray().clear();
  appender_ = MIDIPacketListAppender();
  packetList_.reset();
}

std::shared_ptr<OrvMIDINode> OrvMIDINode::initReceiverWithEndpoint(MIDIEndpointRef source) {
  if (source == 0) return nullptr;
  auto node = std::make_shared<OrvMIDINode>(Key{});
  return node->setUpReceiverWithEndpoint(source) ? node : nullptr;
}

std::shared_ptr<OrvMIDINode> OrvMIDINode::initReceiverWithName(
    const std::optional<std::string>& name) {
  if (!name) return nullptr;
  auto node = std::make_shared<OrvMIDINode>(Key{});
  return node->setUpReceiverWithName(*name) ? node : nullptr;
}

std::shared_ptr<OrvMIDINode> OrvMIDINode::initSenderWithEndpoint(MIDIEndpointRef destination) {
  if (destination == 0) return nullptr;
  auto node = std::make_shared<OrvMIDINode>(Key{});
  return node->setUpSenderWithEndpoint(destination) ? node : nullptr;
}

std::shared_ptr<OrvMIDINode> OrvMIDINode::initSenderWithName(
    const std::optional<std::string>& name) {
  if (!name) return nullptr;
  auto node = std::make_shared<OrvMIDINode>(Key{});
  return node->setUpSenderWithName(*name) ? node : nullptr;
}

bool OrvMIDINode::setUpReceiverWithEndpoint(MIDIEndpointRef source) {
  endpointRef_ = source;
  loadProperties();
  return succeeded(wex::MIDIClientCreate(kClientName, nullptr, nullptr, &clientRef_),
                   "\t\terror %ld at MIDIClientCreate() A") &&
         succeeded(wex::MIDIInputPortCreate(clientRef_, kPortName, &myMIDIReadProc, readTarget(),
                                            &portRef_),
                   "\t\terror %ld at MIDIInputPortCreate() A") &&
         succeeded(wex::MIDIPortConnectSource(portRef_, endpointRef_, nullptr),
                   "\t\terror %ld at MIDIPortConnectSource() A");
}

bool OrvMIDINode::setUpReceiverWithName(const std::string& name) {
  name_ = name;
  return succeeded(wex::MIDIClientCreate(kClientName, &myMIDINotificationProc, this, &clientRef_),
                   "\t\terror %ld at MIDIClientCreate B") &&
         succeeded(wex::MIDIDestinationCreate(clientRef_, name, &myMIDIReadProc, readTarget(),
                                              &endpointRef_),
                   "\t\terror %ld at MIDIDestinationCreate() A") &&
         succeeded(
             wex::MIDIInputPortCreate(clientRef_, name, &myMIDIReadProc, readTarget(), &portRef_),
             "\t\terror %ld at MIDIInputPortCreate B");
}

bool OrvMIDINode::setUpSenderWithEndpoint(MIDIEndpointRef destination) {
  endpointRef_ = destination;
  loadProperties();
  if (!succeeded(wex::MIDIClientCreate(kClientName, nullptr, nullptr, &clientRef_),
                 "\t\terr %ld at MIDIClientCreate C") ||
      !succeeded(wex::MIDIOutputPortCreate(clientRef_, kPortName, &portRef_),
                 "\t\terr %ld at MIDIOutputPortCreate A")) {
    return false;
  }
  sender_ = true;
  allocatePacketList();
  return true;
}

bool OrvMIDINode::setUpSenderWithName(const std::string& name) {
  name_ = name;
  if (!succeeded(wex::MIDIClientCreate(name, nullptr, nullptr, &clientRef_),
                 "\t\terror %ld at MIDIClientCreate D") ||
      !succeeded(wex::MIDISourceCreate(clientRef_, name, &endpointRef_),
                 "\t\terror %ld at MIDISourceCreate A") ||
      !succeeded(wex::MIDIOutputPortCreate(clientRef_, name, &portRef_),
                 "\t\terror %ld at MIDIOutputPortCreate B")) {
    return false;
  }
  sender_ = true;
  virtualSender_ = true;
  allocatePacketList();
  return true;
}

void OrvMIDINode::loadProperties() {
  properties_.clear();
  std::optional<std::string> name;
  const OSStatus nameStatus =
      wex::MIDIObjectGetStringProperty(endpointRef_, kMIDIPropertyName, &name);
  if (nameStatus != noErr) {
    logStatus("\t\terror %ld at MIDIObjectGetStringProperty()", nameStatus);
  } else if (name) {
    name_ = name;
    properties_[kMIDIPropertyName] = *name;
  }
  int32_t uniqueID = 0;
  const OSStatus idStatus =
      wex::MIDIObjectGetIntegerProperty(endpointRef_, kMIDIPropertyUniqueID, &uniqueID);
  if (idStatus == noErr) {
    properties_[kMIDIPropertyUniqueID] = uniqueID;
  } else {
    logStatus("\t\terror %ld at MIDIObjectGetIntegerProperty()", idStatus);
  }
}

void OrvMIDINode::allocatePacketList() {
  packetList_ = std::make_unique<Byte[]>(kPacketListSize);
  appender_ =
      MIDIPacketListAppender(reinterpret_cast<MIDIPacketList*>(packetList_.get()), kPacketListSize);
  packer_ = std::make_unique<SendPacker>();
}

void OrvMIDINode::emptyPacketList() {
  appender_.clear();
}

void OrvMIDINode::receivedMIDI(const OrvMIDIMessageList& messages) {
  if (!enabled_.load()) return;
  if (name_) {
    for (const auto& msg : messages) FeedbackWatch::shared().received(*name_, *msg);
  }
  if (OrvMIDIDelegateProtocol* delegate = delegate_.load()) delegate->receivedMIDI(messages);
}

void OrvMIDINode::setupChanged() {
  if (OrvMIDIDelegateProtocol* delegate = delegate_.load()) delegate->setupChanged();
}

void OrvMIDINode::refuseMessage(const OrvMIDIMessage& msg) {
  const std::string reason = std::to_string(msg.wireLength()) +
                             " bytes do not fit in one packet list (at most " +
                             std::to_string(kMaxPacketData) + ")";
  if (!noteUnsent(kCauseNoRoom, reason)) return;
  SystemLog::write(msg.type() == kMIDISysexStart ? "\terr adding new sysex packet"
                                                 : "\t\terror adding new packet");
  explainUnsent(reason);
}

bool OrvMIDINode::sendPacketList() {
  const MIDIPacketList* list = appender_.list();
  const OSStatus status = virtualSender_ ? wex::MIDIReceived(endpointRef_, list)
                                         : wex::MIDISend(portRef_, endpointRef_, list);
  if (status == noErr) return true;
  const std::string reason = "the MIDI services refused it (error " + std::to_string(status) +
                             "; the destination may be gone)";
  if (noteUnsent("status " + std::to_string(status), reason)) {
    logStatus(virtualSender_ ? "\t\terr %ld at MIDIReceived A" : "\t\terr %ld at MIDISend A",
              status);
    explainUnsent(reason);
  }
  return false;
}

bool OrvMIDINode::noteUnsent(const std::string& cause, std::string reason) {
  unsentCount_.fetch_add(1);
  lastUnsentReason_ = std::move(reason);
  return !sendFailures_ || sendFailures_->count(name_.value_or(""), cause);
}

void OrvMIDINode::explainUnsent(const std::string& reason) {
  if (sendFailures_) sendFailures_->explain(name_.value_or(""), reason);
}

void OrvMIDINode::setSendFailures(std::shared_ptr<SendFailures> failures) {
  std::lock_guard lock(sendingLock_);
  sendFailures_ = std::move(failures);
}

std::string OrvMIDINode::lastUnsentReason() {
  std::lock_guard lock(sendingLock_);
  return lastUnsentReason_;
}

void OrvMIDINode::sendMsg(const OrvMIDIMessagePtr& msg) {
  if (msg) sendRange(&msg, &msg + 1);
}

void OrvMIDINode::sendMsgArrivedAt(const OrvMIDIMessagePtr& msg, MIDITimeStamp arrival) {
  if (!msg) return;
  const MIDITimeStamp time = arrival != 0 ? arrival + currentMIDIServices().sendDelay() : 0;
  sendRange(&msg, &msg + 1, time);
}

void OrvMIDINode::sendMsgs(const OrvMIDIMessageList& msgs) {
  sendRange(msgs.data(), msgs.data() + msgs.size());
}

// Whatever happens, the list is empty again when a call ends, so nothing of a
// failed call goes out with a later one.
void OrvMIDINode::sendRange(const OrvMIDIMessagePtr* begin, const OrvMIDIMessagePtr* end,
                            MIDITimeStamp time) {
  if (!enabled_.load() || !sender_ || begin == end) return;
  std::lock_guard lock(sendingLock_);
  // Switched off meanwhile: its notes were released, none may start now.
  if (!enabled_.load()) return;
  if (const OrvMIDIMessage* refused = packer_->pack(begin, end, appender_, time)) {
    refuseMessage(*refused);
  } else if (!appender_.empty() && sendPacketList()) {
    packer_->noteSent(soundingNotes_);
    if (name_) packer_->reportSent(*name_);
  }
  emptyPacketList();
}

void OrvMIDINode::sendMsgInPieces(const OrvMIDIMessagePtr& msg) {
  if (!msg || msg->type() != kMIDISysexStart || msg->wireLength() <= kMaxPacketData) {
    sendMsg(msg);
    return;
  }
  if (!enabled_.load() || !sender_) return;
  std::vector<Byte> bytes(msg->wireLength());
  msg->writeWireBytes(bytes.data());
  std::lock_guard lock(sendingLock_);
  if (!enabled_.load()) return;
  const bool sent = WirePieces::forEach(
      bytes.data(), bytes.size(), kMaxPacketData, [this](const Byte* piece, size_t length) {
        emptyPacketList();
        std::memcpy(appender_.reservePacket(0, length, true), piece, length);
        return sendPacketList();
      });
  emptyPacketList();
  if (sent && name_) {
    const uint64_t print = FeedbackWatch::fingerprint(*msg);
    FeedbackWatch::shared().sent(*name_, &print, 1);
  }
}

void OrvMIDINode::setEnabled(bool enabled) {
  if (enabled || !sender_) {
    enabled_.store(enabled);
    return;
  }
  std::lock_guard lock(sendingLock_);
  if (enabled_.exchange(false)) sendNoteOffs();
}

void OrvMIDINode::releaseSoundingNotes() {
  if (!sender_) return;
  std::lock_guard lock(sendingLock_);
  sendNoteOffs();
}

// As many note offs per packet list as fit; a list the services refuse is
// logged by sendPacketList and the rest still go out.
void OrvMIDINode::sendNoteOffs() {
  emptyPacketList();
  for (auto& noteOff : soundingNotes_.takeNoteOffs()) {
    if (!appender_.add(0, noteOff.data(), noteOff.size())) {
      sendPacketList();
      emptyPacketList();
      appender_.add(0, noteOff.data(), noteOff.size());
    }
  }
  if (!appender_.empty()) sendPacketList();
  emptyPacketList();
}

SoundingNotes OrvMIDINode::takeSoundingNotes() {
  std::lock_guard lock(sendingLock_);
  return std::exchange(soundingNotes_, SoundingNotes());
}

void OrvMIDINode::addSoundingNotes(const SoundingNotes& notes) {
  if (!sender_) return;
  std::lock_guard lock(sendingLock_);
  soundingNotes_.add(notes);
}

std::string OrvMIDINode::description() const {
  return "<OrvMIDINode: " + name_.value_or("(null)") + ">";
}

void myMIDINotificationProc(const MIDINotification* message, void* refCon) {
  if (!message || !refCon || message->messageID != kMIDIMsgSetupChanged) return;
  static_cast<OrvMIDINode*>(refCon)->setupChanged();
}

}  // namespace wex
