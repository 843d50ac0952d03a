#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "services/CallbackGate.h"
#include "services/ClientTable.h"
#include "services/MIDIServices.h"
#include "services/alsa/AlsaEndpointTable.h"
#include "services/alsa/AlsaInputStream.h"
#include "services/alsa/AlsaReader.h"
#include "services/alsa/AlsaSender.h"
#include "services/alsa/AlsaSequencer.h"

namespace wex {

// The MIDI services on the ALSA sequencer: one sequencer client for the
// whole process, carrying every client of the contract.
//
// Sources are the readable ports of other clients, destinations their
// writable ones (never the System client's), named "client:port" as aconnect
// shows them; our virtual sources and destinations are public ports of ours.
// Receiving uses one private port per connection, subscribed to the source
// and named after its owner and the source ("keys from Midi Through:Port-0");
// sending goes straight to the destination's port from one private port of
// ours, which is subscribed to every destination it sends to (kernel clients
// take nothing from a port that is not). Private ports cannot be subscribed to, so no other program
// lists them. System:Announce tells of clients and ports that come and go.
class AlsaMIDIServices final : public MIDIServices, private AlsaReader::Owner {
 public:
  // True when the machine has an ALSA sequencer.
  static bool sequencerPresent();
  // Opens the sequencer as a client named `clientName`; null, with the
  // reason in `error`, when it cannot.
  static std::shared_ptr<AlsaMIDIServices> open(const std::string& clientName, std::string* error);

  ~AlsaMIDIServices() override;
  AlsaMIDIServices(const AlsaMIDIServices&) = delete;
  AlsaMIDIServices& operator=(const AlsaMIDIServices&) = delete;

  OSStatus MIDIClientCreate(const std::string& name, MIDINotifyProc notifyProc, void* notifyRefCon,
                            MIDIClientRef* outClient) override;
  OSStatus MIDIClientDispose(MIDIClientRef client) override;
  OSStatus MIDIInputPortCreate(MIDIClientRef client, const std::string& portName,
                               MIDIReadProc readProc, void* refCon, MIDIPortRef* outPort) override;
  OSStatus MIDIOutputPortCreate(MIDIClientRef client, const std::string& portName,
                                MIDIPortRef* outPort) override;
  OSStatus MIDIPortConnectSource(MIDIPortRef port, MIDIEndpointRef source,
                                 void* connRefCon) override;
  OSStatus MIDIPortDisconnectSource(MIDIPortRef port, MIDIEndpointRef source) override;
  OSStatus MIDIDestinationCreate(MIDIClientRef client, const std::string& name,
                                 MIDIReadProc readProc, void* refCon,
                                 MIDIEndpointRef* outDest) override;
  OSStatus MIDISourceCreate(MIDIClientRef client, const std::string& name,
                            MIDIEndpointRef* outSrc) override;
  OSStatus MIDIObjectGetStringProperty(MIDIObjectRef obj, const std::string& propertyID,
                                       std::optional<std::string>* str) override;
  OSStatus MIDIObjectGetIntegerProperty(MIDIObjectRef obj, const std::string& propertyID,
                                        int32_t* outValue) override;
  ItemCount MIDIGetNumberOfSources() override;
  MIDIEndpointRef MIDIGetSource(ItemCount sourceIndex0) override;
  ItemCount MIDIGetNumberOfDestinations() override;
  MIDIEndpointRef MIDIGetDestination(ItemCount destIndex0) override;
  OSStatus MIDISend(MIDIPortRef port, MIDIEndpointRef dest, const MIDIPacketList* pktlist) override;
  OSStatus MIDIReceived(MIDIEndpointRef src, const MIDIPacketList* pktlist) override;
  bool waitUntilDelivered(double timeoutSeconds) override;

  // Our sequencer client's number and name.
  int clientId() const { return sequencer_->clientId(); }
  std::string clientName() { return sequencer_->clientName(); }
  // The name of the listed endpoint that an address names as aconnect reads
  // it ("14:0", "14", "Midi Through:0", a client name); empty when none.
  std::string endpointNameAt(const std::string& address, bool isSource);
  // "client:port" by numbers, empty for an unknown endpoint.
  std::string addressOf(MIDIEndpointRef endpoint);

 private:
  struct VirtualSource {
    MIDIEndpointRef endpoint = 0;
    MIDIClientRef client = 0;
    int alsaPort = -1;
  };

  explicit AlsaMIDIServices(std::unique_ptr<AlsaSequencer> sequencer);

  // AlsaReader::Owner, on the reader's thread.
  std::map<int, std::shared_ptr<AlsaInputStream>> inputStreams() override;
  void setupMayHaveChanged() override;
  void reportDrops() override;

  // The rest hold mutex_.
  void refreshEndpoints();
  void link(AlsaInputStream& stream);
  void useDestination(const snd_seq_addr_t& address);
  void removeInputs(const std::vector<std::shared_ptr<AlsaInputStream>>& taken);
  MIDIObjectRef newRef() { return clients_.newRef(); }

  std::unique_ptr<AlsaSequencer> sequencer_;
  int controlPort_ = -1;
  std::mutex mutex_;
  ClientTable clients_;
  std::vector<std::shared_ptr<AlsaInputStream>> inputs_;
  std::vector<VirtualSource> virtualSources_;
  std::map<int, std::string> ownNames_;              // our virtual endpoints by port number
  std::set<std::pair<int, int>> destinationsInUse_;  // subscribed to by controlPort_
  AlsaEndpointTable endpoints_;
  std::string notifiedSignature_;
  uint64_t droppedReported_ = 0;               // to the subscribers of our virtual sources
  std::set<MIDIEndpointRef> stalledReported_;  // destinations said to drop
  uint64_t overrunsReported_ = 0;

  CallbackGate gate_;
  AlsaSender sender_;
  AlsaReader reader_;
};

}  // namespace wex
