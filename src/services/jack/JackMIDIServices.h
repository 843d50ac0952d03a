#pragma once

#include <jack/jack.h>
#include <jack/metadata.h>
#include <jack/thread.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "services/CallbackGate.h"
#include "services/ClientTable.h"
#include "services/MIDIServices.h"
#include "services/jack/JackEndpointTable.h"
#include "services/jack/JackInputStream.h"
#include "services/jack/JackOutputStream.h"
#include "services/jack/JackProcessTable.h"
#include "services/jack/JackReader.h"
#include "services/jack/JackSetupWatcher.h"
#include "services/jack/JackWakeSignal.h"

namespace wex {

// The MIDI services on a JACK server: one JACK client for the whole process,
// carrying every client of the contract.
//
// Sources are the JACK MIDI output ports of other JACK clients, destinations
// their MIDI input ports, plus our own virtual sources and destinations
// (public ports of our client named after them). Receiving uses one private
// JACK input port per connection, sending one private output port per owner
// and destination, connected when first needed; private ports are never
// listed. A private port is named after its owner and its peer ("keys from
// system:midi_capture_1", "synth to fluidsynth:midi_00"), so that it has the
// same name in every run of the same composition and after a server restart,
// and a patchbay can keep its connections.
// The server may go away: the endpoints then go offline, and the services
// reconnect, register their ports and remake their connections when a server
// is back.
//
// The implementation is split by role over JackMIDIServices*.cpp: the
// contract's operations, Server (the connection and JACK's callbacks), Ports
// (registration and naming), Links (linking and the endpoint list), Sending
// (and waiting for delivery) and Drops (the drop reports).
class JackMIDIServices final : public MIDIServices, private JackSetupWatcher::Owner {
 public:
  // True when a JACK server can be reached (it is never started).
  static bool serverRunning();
  // Connects to the running server as `clientName`; null, with the reason in
  // `error`, when there is none.
  static std::shared_ptr<JackMIDIServices> open(const std::string& clientName, std::string* error);

  ~JackMIDIServices() override;
  JackMIDIServices(const JackMIDIServices&) = delete;
  JackMIDIServices& operator=(const JackMIDIServices&) = delete;

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
  uint64_t serverLosses() override { return serverLosses_.load(); }
  bool stampsArrivalTimes() const override { return true; }
  // One period: the process callback writes each event a period after it
  // was sent, at its own place in the cycle.
  MIDITimeStamp sendDelay() override { return processTable_.period() * 1000; }

  // Our JACK client's name, empty while the server is away.
  std::string jackClientName();
  // The full JACK port name behind an endpoint, empty for an unknown one.
  std::string jackPortName(MIDIEndpointRef endpoint);
  bool serverAway();

 private:
  using InputStreams = std::vector<std::shared_ptr<JackInputStream>>;
  using OutputStreams = std::vector<std::shared_ptr<JackOutputStream>>;

  JackMIDIServices(jack_client_t* jack, const std::string& clientName);

  // The server connection (JackMIDIServicesServer.cpp).
  static jack_client_t* openJackClient(const std::string& name);
  // Both shutdown callbacks lead here: jackd2 calls the one with the reason,
  // PipeWire's JACK library only the plain one. Marking twice is harmless.
  static void onShutdown(jack_status_t code, const char* reason, void* arg);
  static void onPlainShutdown(void* arg);
  static void onPortRegistration(jack_port_id_t port, int registered, void* arg);
  static void onPortRename(jack_port_id_t port, const char* oldName, const char* newName,
                           void* arg);
  static void onClientRegistration(const char* name, int registered, void* arg);
  static void onPropertyChange(jack_uuid_t subject, const char* key, jack_property_change_t change,
                               void* arg);
  // The server asks for our ports' latencies (their connections changed):
  // only marks, and the watcher's thread sets them (updateLatencies).
  static void onLatency(jack_latency_callback_mode_t mode, void* arg);
  bool installCallbacksAndActivate(jack_client_t* jack);
  // On a server that runs realtime, the reader and the evaluation thread run
  // realtime too, just below the server's own threads, and on one CPU with
  // the client's process thread.
  void scheduleRealtimeThreads(jack_client_t* jack);

  // JackSetupWatcher::Owner, on the watcher's thread.
  void serverLost() override;
  bool reconnect() override;
  void setupMayHaveChanged() override;
  bool linksPending() override;
  void reportDrops() override;  // JackMIDIServicesDrops.cpp

  // Port registration and naming, the process table (JackMIDIServicesPorts.cpp);
  // all of these are called with mutex_ held.
  template <typename Stream>
  bool registerPort(Stream& stream);
  jack_port_t* registerJackPort(const std::string& wanted, bool isInput, bool isPrivate,
                                const std::string& displayName, std::string* shortName);
  void unregister(jack_port_t*& port);
  void forgetProperties(jack_uuid_t uuid);
  JackProcessTable::Replaced publishProcessTable();
  // Sets a private port's mark unless it is there; whether it is now.
  bool markPrivate(jack_port_t* port);
  // Waits, bounded, for what a client published last to go out.
  void awaitPublished(MIDIClientRef client);
  // Streams already taken out of inputs_ and outputs_ leave the process table;
  // their ports are unregistered once no cycle uses them. `lock` holds mutex_
  // and is let go while the cycle is waited for.
  void retire(std::unique_lock<std::mutex>& lock, const InputStreams& inputs,
              const OutputStreams& outputs);
  // The private stream of one owner to a destination, made on first use.
  std::shared_ptr<JackOutputStream> outputStreamTo(const std::string& owner, MIDIEndpointRef dest);
  InputStreams liveInputs();

  // Linking to peers and the endpoint list (JackMIDIServicesLinks.cpp), with
  // mutex_ held.
  void link(JackInputStream& stream);
  void link(JackOutputStream& stream);
  // Lists the endpoints again, asking the server with mutex_ held.
  void refreshEndpoints();
  // Lists the endpoints again from ports the server listed.
  void refreshEndpoints(const std::vector<JackEndpointTable::ServerPort>& ports);
  // Tells the server what our ports add to the latency of what goes through
  // them: an event leaves an output port one period after it was sent or
  // came in (capture latency of the outputs: the inputs' and a period;
  // playback latency of the inputs: the outputs' and a period). Set from our
  // thread with mutex_ held, never in the latency callback: PipeWire's JACK
  // library (0.3.65) crashed when a port's latency was set there while
  // another thread of ours called it. Asks the server to pass changes on,
  // and takes the pass that makes as it is.
  void updateLatencies();

  // The contract's helpers (JackMIDIServices.cpp), with mutex_ held.
  template <typename Stream>
  OSStatus publishVirtualEndpoint(std::shared_ptr<Stream> stream, const std::string& name,
                                  std::vector<std::shared_ptr<Stream>>& streams,
                                  MIDIEndpointRef* outEndpoint);
  MIDIObjectRef newRef() { return clients_.newRef(); }

  // Sending (JackMIDIServicesSending.cpp); takes the stream's writeMutex.
  OSStatus writeMessages(JackOutputStream& stream, MIDIPortRef port, const MIDIPacketList* pktlist);
  bool waitForDelivery(double timeoutSeconds);

  std::mutex mutex_;
  jack_client_t* jack_ = nullptr;
  // Counts the JACK clients opened: a port belongs to the one it was
  // registered with.
  uint64_t jackGeneration_ = 0;
  const std::string requestedName_;
  // The name the server gave our client (requestedName_, or with a number
  // when another client bore that): asked for again when a server is back,
  // so that two programs of one name do not swap names, and their ports, at
  // a restart. Written with mutex_ held by the watcher thread, which alone
  // may read it without.
  std::string givenName_;
  ClientTable clients_;
  InputStreams inputs_;
  OutputStreams outputs_;
  JackEndpointTable endpoints_;
  std::string notifiedSignature_;
  // Counts the listings of the endpoints.
  uint64_t endpointRefreshes_ = 0;
  // A connection to a listed peer was refused since the last listing.
  bool linksPending_ = false;
  std::atomic<uint64_t> droppedWhileAway_{0};
  std::atomic<uint64_t> serverLosses_{0};
  // serverLosses_ as the last waitUntilDelivered saw it.
  std::atomic<uint64_t> lossesSeenByWait_{0};
  uint64_t droppedWhileAwayReported_ = 0;
  bool estimatesReplacedReported_ = false;

  // Set by the latency callback, taken by the watcher's thread.
  std::atomic<bool> latenciesAsked_{false};
  // updateLatencies asked the server to recompute; guarded by mutex_.
  bool ownRecompute_ = false;

  JackWakeSignal inputArrived_;
  JackProcessTable processTable_;
  CallbackGate gate_;
  JackReader reader_;
  JackSetupWatcher watcher_;
};

}  // namespace wex
