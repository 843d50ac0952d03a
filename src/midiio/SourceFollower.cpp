#include "midiio/SourceFollower.h"

#include "midi/OrvMIDIReadProc.h"
#include "midi/OrvMIDIReadTarget.h"
#include "services/MIDIPacketListBuffer.h"
#include "services/MIDIServices.h"

namespace wex {

// One source's parser state, and its name for the lines printed.
class SourceFollower::Listener : public OrvMIDIReadTarget {
 public:
  Listener(SourceFollower& follower, std::string name, bool arrivalTimes)
      : follower_(follower), name_(std::move(name)), arrivalTimes_(arrivalTimes) {}
  void receivedMIDI(const OrvMIDIMessageList& messages) override {
    follower_.onMessages_(name_, messages, arrival_);
  }
  const std::string& name() const { return name_; }

  // Parses the list; where packets carry arrival times, each run of packets
  // that arrived together is parsed on its own, so that its messages get
  // their time.
  void read(const MIDIPacketList* list) {
    if (!arrivalTimes_ || sameTime(list)) {
      myMIDIReadProc(list, static_cast<OrvMIDIReadTarget*>(this), nullptr);
      return;
    }
    MIDIPacketIterator packets(list);
    MIDIPacketView packet;
    run_.clear();
    while (packets.next(packet)) {
      if (run_.packetCount() > 0 && packet.timeStamp != arrival_) parseRun();
      const ByteCount needed = kMIDIPacketListHeaderSize + kMIDIPacketHeaderSize + packet.length;
      if (run_.capacity() < needed) {
        parseRun();
        run_ = MIDIPacketListBuffer(needed);
      }
      if (!run_.addPacket(packet.data, packet.length, packet.timeStamp)) {
        parseRun();
        run_.addPacket(packet.data, packet.length, packet.timeStamp);
      }
      arrival_ = packet.timeStamp;
    }
    parseRun();
  }

 private:
  // Whether every packet arrived at one time, which then stands for all.
  bool sameTime(const MIDIPacketList* list) {
    MIDIPacketIterator packets(list);
    MIDIPacketView packet;
    bool first = true;
    while (packets.next(packet)) {
      if (!first && packet.timeStamp != arrival_) return false;
      arrival_ = packet.timeStamp;
      first = false;
    }
    return true;
  }
  void parseRun() {
    if (run_.packetCount() == 0) return;
    myMIDIReadProc(run_.list(), static_cast<OrvMIDIReadTarget*>(this), nullptr);
    run_.clear();
  }

  SourceFollower& follower_;
  const std::string name_;
  const bool arrivalTimes_;
  uint64_t arrival_ = 0;
  MIDIPacketListBuffer run_{1024};
};

SourceFollower::SourceFollower(MIDIServices& services, MessageHandler onMessages)
    : services_(services), onMessages_(std::move(onMessages)) {}

SourceFollower::~SourceFollower() {
  if (client_) services_.MIDIClientDispose(client_);
}

bool SourceFollower::open(std::string* reason) {
  OSStatus status = services_.MIDIClientCreate("wexmidi monitor", notifyProc, this, &client_);
  if (status == noErr) {
    status = services_.MIDIInputPortCreate(client_, "in", readProc, this, &port_);
  }
  if (status != noErr) {
    *reason =
        "the MIDI services refused a client and its port (status " + std::to_string(status) + ")";
    return false;
  }
  return true;
}

std::vector<std::string> SourceFollower::sourceNames() {
  std::vector<std::string> names;
  const ItemCount count = services_.MIDIGetNumberOfSources();
  for (ItemCount i = 0; i < count; ++i) names.push_back(nameOf(services_.MIDIGetSource(i)));
  return names;
}

void SourceFollower::listenTo(const std::vector<size_t>& rows) {
  for (size_t row : rows) {
    const MIDIEndpointRef source = services_.MIDIGetSource(row);
    if (source) connect(source, nameOf(source));
  }
}

void SourceFollower::followAll(ChangeHandler onChange) {
  onChange_ = std::move(onChange);
  followingAll_ = true;
  const ItemCount count = services_.MIDIGetNumberOfSources();
  for (ItemCount i = 0; i < count; ++i) {
    const MIDIEndpointRef source = services_.MIDIGetSource(i);
    if (source) connect(source, nameOf(source));
  }
}

void SourceFollower::update() {
  if (!followingAll_ || !setupChanged_.exchange(false)) return;
  std::map<MIDIEndpointRef, std::string> present;
  const ItemCount count = services_.MIDIGetNumberOfSources();
  for (ItemCount i = 0; i < count; ++i) {
    const MIDIEndpointRef source = services_.MIDIGetSource(i);
    if (source) present.emplace(source, nameOf(source));
  }
  for (auto it = listeners_.begin(); it != listeners_.end();) {
    if (present.count(it->first)) {
      ++it;
      continue;
    }
    services_.MIDIPortDisconnectSource(port_, it->first);
    if (onChange_) onChange_(it->second->name(), false);
    departed_.push_back(std::move(it->second));
    it = listeners_.erase(it);
  }
  for (const auto& [source, name] : present) {
    if (listeners_.count(source)) continue;
    connect(source, name);
    if (onChange_ && listeners_.count(source)) onChange_(name, true);
  }
}

void SourceFollower::connect(MIDIEndpointRef source, const std::string& name) {
  auto listener = std::make_unique<Listener>(*this, name, services_.stampsArrivalTimes());
  // The connection's own pointer tells the read callback whose bytes came.
  if (services_.MIDIPortConnectSource(port_, source, listener.get()) != noErr) return;
  listeners_[source] = std::move(listener);
}

std::string SourceFollower::nameOf(MIDIEndpointRef source) {
  std::optional<std::string> name;
  services_.MIDIObjectGetStringProperty(source, kMIDIPropertyName, &name);
  return name.value_or("");
}

void SourceFollower::readProc(const MIDIPacketList* list, void* /*refCon*/, void* connRefCon) {
  if (auto* listener = static_cast<Listener*>(connRefCon)) listener->read(list);
}

void SourceFollower::notifyProc(const MIDINotification* message, void* refCon) {
  if (message && message->messageID == kMIDIMsgSetupChanged) {
    static_cast<SourceFollower*>(refCon)->setupChanged_ = true;
  }
}

}  // namespace wex
