#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "midi/OrvMIDIDelegateProtocol.h"
#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIReadTarget.h"
#include "midi/SendFailures.h"
#include "midi/SendPacker.h"
#include "midi/SoundingNotes.h"
#include "services/MIDIPacketListAppender.h"
#include "services/MIDITypes.h"

namespace wex {

// One MIDI endpoint and the MIDI services objects needed to use it: a receiver
// (parsing what arrives and handing it to the delegate) or a sender (packing
// messages and sending them), bound to an existing endpoint or publishing a
// virtual one under the node's name. The node owns its MIDI client; disposing
// of the client at teardown ends its port, connection and virtual endpoint.
class OrvMIDINode final : public OrvMIDIReadTarget {
  struct Key {
    explicit Key() = default;
  };

 public:
  static constexpr ByteCount kPacketListSize = 1024;
  // The most bytes one packet of an otherwise empty list holds.
  static constexpr ByteCount kMaxPacketData =
      kPacketListSize - sizeof(uint32_t) - sizeof(MIDITimeStamp) - sizeof(uint16_t);
  using PropertyValue = std::variant<std::string, int32_t>;

  // Each yields null when the argument is 0 or null (silently) or when a MIDI
  // services call fails (with one log line).
  static std::shared_ptr<OrvMIDINode> initReceiverWithEndpoint(MIDIEndpointRef source);
  static std::shared_ptr<OrvMIDINode> initReceiverWithName(const std::optional<std::string>& name);
  static std::shared_ptr<OrvMIDINode> initSenderWithEndpoint(MIDIEndpointRef destination);
  static std::shared_ptr<OrvMIDINode> initSenderWithName(const std::optional<std::string>& name);

  explicit OrvMIDINode(Key);
  ~OrvMIDINode() override;
  OrvMIDINode(const OrvMIDINode&) = delete;
  OrvMIDINode& operator=(const OrvMIDINode&) = delete;

  // Passes the messages to the delegate while the node is enabled.
  void receivedMIDI(const OrvMIDIMessageList& messages) override;
  // Passes the setup change to the delegate, enabled or not.
  void setupChanged();

  // Send now, if this is an enabled sender; null messages are skipped.
  void sendMsg(const OrvMIDIMessagePtr& msg);
  // The same for a message that arrived at `arrival` (a time stamp the MIDI
  // services gave, 0 for none): it keeps its place, going out the services'
  // sendDelay() after it arrived, so that passed-on messages keep their
  // spacing.
  void sendMsgArrivedAt(const OrvMIDIMessagePtr& msg, MIDITimeStamp arrival);
  // Sends the messages in order in one packet list.
  void sendMsgs(const OrvMIDIMessageList& msgs);
  // Like sendMsg, but a system exclusive message too long for one packet
  // list goes out in pieces, one packet list each, in order: the first piece
  // begins with F0, the last ends with F7, and a receiver puts the message
  // back together. Should the MIDI services refuse a piece, the rest is not
  // sent (counted and logged as sendMsg does).
  void sendMsgInPieces(const OrvMIDIMessagePtr& msg);
  // A sender sends a note off for every note it left sounding (note on sent,
  // its note off not), so that no note hangs on the destination.
  void releaseSoundingNotes();
  // The notes this sender left sounding, which it forgets; a node made again
  // for the same destination adds them to its own, so that they are still
  // released later.
  SoundingNotes takeSoundingNotes();
  void addSoundingNotes(const SoundingNotes& notes);

  bool sender() const { return sender_; }
  bool receiver() const { return !sender_; }
  bool virtualSender() const { return virtualSender_; }
  const std::optional<std::string>& name() const { return name_; }
  // "name" and "uniqueID" of the endpoint a bound node stands for.
  const std::map<std::string, PropertyValue>& properties() const { return properties_; }

  OrvMIDIDelegateProtocol* delegate() const { return delegate_.load(); }
  void setDelegate(OrvMIDIDelegateProtocol* delegate) { delegate_.store(delegate); }
  bool enabled() const { return enabled_.load(); }
  // Switching a sender off releases its sounding notes first.
  void setEnabled(bool enabled);

  // Messages this sender could not send, and why the last of them could not.
  // Each is logged, unless the node counts them in a SendFailures, which
  // has each cause logged once.
  uint64_t unsentCount() const { return unsentCount_.load(); }
  std::string lastUnsentReason();
  void setSendFailures(std::shared_ptr<SendFailures> failures);

  std::string description() const;

 private:
  // Counts, and logs, a message that did not fit in the packet list. Called
  // with sendingLock_ held.
  [[gnu::cold, gnu::noinline]] void refuseMessage(const OrvMIDIMessage& msg);
  bool setUpReceiverWithEndpoint(MIDIEndpointRef source);
  bool setUpReceiverWithName(const std::string& name);
  bool setUpSenderWithEndpoint(MIDIEndpointRef destination);
  bool setUpSenderWithName(const std::string& name);
  void loadProperties();
  void allocatePacketList();

  // Sends the messages in order in one packet list; null ones are skipped.
  void sendRange(const OrvMIDIMessagePtr* begin, const OrvMIDIMessagePtr* end,
                 MIDITimeStamp time = 0);
  // Hands the list to the MIDI services; false (logged) when they refuse it.
  // Called with sendingLock_ held.
  bool sendPacketList();
  // Counts a message not sent; true when its cause is to be logged. Called
  // with sendingLock_ held.
  bool noteUnsent(const std::string& cause, std::string reason);
  // After the line of the failing step, the line that says what it means.
  void explainUnsent(const std::string& reason);
  // Called with sendingLock_ held.
  void sendNoteOffs();
  void emptyPacketList();

  OrvMIDIReadTarget* readTarget() { return this; }

  MIDIEndpointRef endpointRef_ = 0;
  std::map<std::string, PropertyValue> properties_;
  MIDIClientRef clientRef_ = 0;
  MIDIPortRef portRef_ = 0;
  std::optional<std::string> name_;
  std::atomic<OrvMIDIDelegateProtocol*> delegate_{nullptr};
  bool sender_ = false;
  bool virtualSender_ = false;
  std::atomic<bool> enabled_{true};
  std::mutex sendingLock_;
  SoundingNotes soundingNotes_;                 // guarded by sendingLock_
  std::unique_ptr<SendPacker> packer_;          // senders; guarded by sendingLock_
  std::string lastUnsentReason_;                // guarded by sendingLock_
  std::shared_ptr<SendFailures> sendFailures_;  // guarded by sendingLock_
  std::atomic<uint64_t> unsentCount_{0};
  std::unique_ptr<Byte[]> packetList_;
  MIDIPacketListAppender appender_;  // over packetList_; the open packet and the room left
};

// The notification callback of a receiver publishing a virtual destination;
// refCon is that OrvMIDINode. A setup change (identifier 1) reaches the
// node's setupChanged; every other notification is ignored.
void myMIDINotificationProc(const MIDINotification* message, void* refCon);

}  // namespace wex
