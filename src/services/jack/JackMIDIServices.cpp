#include "services/jack/JackMIDIServices.h"

#include <jack/metadata.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>
#include <type_traits>

#include "services/MIDIPacketList.h"
#include "support/SystemLog.h"

namespace wex {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kNameAttempts = 20;
constexpr auto kRoomWait = std::chrono::seconds(1);

// libjack prints its complaints to standard error. While we only try to reach
// a server (at start, and every moment while it is away), "cannot connect"
// is the expected answer and is kept quiet.
thread_local bool tJackQuiet = false;

void printJackError(const char* message) {
  if (!tJackQuiet) std::fprintf(stderr, "%s\n", message);
}

void dropJackInfo(const char*) {}

jack_client_t* openJackClient(const std::string& name) {
  static std::once_flag routed;
  std::call_once(routed, [] {
    jack_set_error_function(printJackError);
    jack_set_info_function(dropJackInfo);
  });
  tJackQuiet = true;
  jack_status_t status{};
  jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, &status);
  tJackQuiet = false;
  return client;
}

bool writeWhenRoom(JackRingBuffer& ring, const Byte* data, size_t length) {
  const auto deadline = Clock::now() + kRoomWait;
  while (!ring.writeFrame(data, static_cast<uint32_t>(length))) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

template <typename Streams, typename Predicate>
std::vector<typename Streams::value_type> takeOut(Streams& streams, Predicate predicate) {
  std::vector<typename Streams::value_type> taken;
  auto split = std::stable_partition(streams.begin(), streams.end(),
                                     [&](const auto& stream) { return !predicate(*stream); });
  taken.assign(split, streams.end());
  streams.erase(split, streams.end());
  return taken;
}

}  // namespace

bool JackMIDIServices::serverRunning() {
  jack_client_t* client = openJackClient("wexmidi-probe");
  if (!client) return false;
  jack_client_close(client);
  return true;
}

std::shared_ptr<JackMIDIServices> JackMIDIServices::open(const std::string& clientName,
                                                         std::string* error) {
  jack_client_t* jack = openJackClient(clientName);
  if (!jack) {
    if (error) *error = "no JACK server is running";
    return nullptr;
  }
  std::shared_ptr<JackMIDIServices> services(new JackMIDIServices(jack, clientName));
  if (services->serverAway()) {
    if (error) *error = "the JACK client could not be activated";
    return nullptr;
  }
  return services;
}

JackMIDIServices::JackMIDIServices(jack_client_t* jack, const std::string& clientName)
    : requestedName_(clientName),
      endpoints_([this] { return newRef(); }),
      processTable_(inputArrived_),
      reader_(inputArrived_, gate_, [this] { return liveInputs(); }),
      watcher_(*this) {
  {
    std::lock_guard lock(mutex_);
    jack_ = jack;
    if (installCallbacksAndActivate(jack)) {
      refreshEndpoints();
      notifiedSignature_ = endpoints_.signature();
    } else {
      jack_client_close(jack);
      jack_ = nullptr;
    }
  }
  reader_.start();
  watcher_.start();
}

JackMIDIServices::~JackMIDIServices() {
  watcher_.stop();
  {
    std::lock_guard lock(mutex_);
    if (jack_) {
      jack_deactivate(jack_);
      for (auto& stream : inputs_) unregister(stream->port);
      for (auto& stream : outputs_) unregister(stream->port);
      jack_client_close(jack_);
      jack_ = nullptr;
    }
    processTable_.clearAfterClose();
  }
  reader_.stop();
}

// --- JACK callbacks ---------------------------------------------------------

void JackMIDIServices::onShutdown(jack_status_t, const char*, void* arg) {
  static_cast<JackMIDIServices*>(arg)->watcher_.markServerLost();
}

void JackMIDIServices::onPortRegistration(jack_port_id_t, int, void* arg) {
  static_cast<JackMIDIServices*>(arg)->watcher_.markDirty();
}

void JackMIDIServices::onPortRename(jack_port_id_t, const char*, const char*, void* arg) {
  static_cast<JackMIDIServices*>(arg)->watcher_.markDirty();
}

void JackMIDIServices::onClientRegistration(const char*, int, void* arg) {
  static_cast<JackMIDIServices*>(arg)->watcher_.markDirty();
}

void JackMIDIServices::onPropertyChange(jack_uuid_t, const char*, jack_property_change_t,
                                        void* arg) {
  static_cast<JackMIDIServices*>(arg)->watcher_.markDirty();
}

bool JackMIDIServices::installCallbacksAndActivate(jack_client_t* jack) {
  jack_set_process_callback(jack, &JackProcessTable::processCallback, &processTable_);
  jack_on_info_shutdown(jack, &onShutdown, this);
  jack_set_port_registration_callback(jack, &onPortRegistration, this);
  jack_set_port_rename_callback(jack, &onPortRename, this);
  jack_set_client_registration_callback(jack, &onClientRegistration, this);
  jack_set_property_change_callback(jack, &onPropertyChange, this);
  return jack_activate(jack) == 0;
}

// --- the watcher's work -----------------------------------------------------

void JackMIDIServices::serverLost() {
  std::lock_guard lock(mutex_);
  if (!jack_) return;
  jack_client_close(jack_);
  jack_ = nullptr;
  processTable_.clearAfterClose();
  for (auto& stream : inputs_) stream->port = nullptr, stream->linked = false;
  for (auto& stream : outputs_) stream->port = nullptr, stream->linked = false;
  endpoints_.setServerAway(true);
  SystemLog::write("\tJACK server went away: MIDI endpoints are offline until it is back");
}

bool JackMIDIServices::reconnect() {
  jack_client_t* jack = openJackClient(requestedName_);
  if (!jack) return false;
  std::lock_guard lock(mutex_);
  jack_ = jack;
  for (auto& stream : outputs_) {
    // What was waiting when the server went away is stale now.
    std::lock_guard writing(stream->writeMutex);
    stream->ring.reset();
  }
  for (auto& stream : inputs_) registerPort(*stream);
  for (auto& stream : outputs_) registerPort(*stream);
  publishProcessTable();
  if (!installCallbacksAndActivate(jack)) {
    jack_client_close(jack);
    jack_ = nullptr;
    processTable_.clearAfterClose();
    for (auto& stream : inputs_) stream->port = nullptr;
    for (auto& stream : outputs_) stream->port = nullptr;
    return false;
  }
  refreshEndpoints();
  SystemLog::write("\tJACK server is back: MIDI endpoints are online");
  return true;
}

void JackMIDIServices::setupMayHaveChanged() {
  std::vector<std::shared_ptr<Client>> listeners;
  {
    std::lock_guard lock(mutex_);
    if (jack_) refreshEndpoints();
    const std::string signature = endpoints_.signature();
    if (signature == notifiedSignature_) return;
    notifiedSignature_ = signature;
    for (const auto& [ref, client] : clients_) {
      if (client->notifyProc) listeners.push_back(client);
    }
  }
  const MIDINotification notification{kMIDIMsgSetupChanged, sizeof(MIDINotification)};
  for (const auto& client : listeners) {
    gate_.run(client->ref, [&] {
      if (client->alive.load()) client->notifyProc(&notification, client->notifyRefCon);
    });
  }
}

void JackMIDIServices::reportDrops() {
  std::lock_guard lock(mutex_);
  for (auto& stream : inputs_) {
    const uint64_t dropped = stream->dropped.load();
    if (dropped == stream->droppedReported) continue;
    const JackEndpoint* source = endpoints_.find(stream->peer);
    const std::string name = source ? source->name : stream->displayName;
    SystemLog::writef("\tJACK MIDI input from \"%s\" dropped %llu events: the reader fell behind",
                      name.c_str(),
                      static_cast<unsigned long long>(dropped - stream->droppedReported));
    stream->droppedReported = dropped;
  }
  for (auto& stream : outputs_) {
    const uint64_t dropped = stream->dropped.load();
    if (dropped == stream->droppedReported) continue;
    const JackEndpoint* destination = endpoints_.find(stream->peer);
    const std::string name = destination ? destination->name : stream->displayName;
    SystemLog::writef("\tJACK MIDI output to \"%s\" dropped %llu messages", name.c_str(),
                      static_cast<unsigned long long>(dropped - stream->droppedReported));
    stream->droppedReported = dropped;
  }
  const uint64_t away = droppedWhileAway_.load();
  if (away != droppedWhileAwayReported_) {
    SystemLog::writef("\tJACK server away: %llu MIDI packet lists were not sent",
                      static_cast<unsigned long long>(away - droppedWhileAwayReported_));
    droppedWhileAwayReported_ = away;
  }
}

// --- ports, connections, the process table (mutex_ held) --------------------

std::string JackMIDIServices::privatePortName(bool isInput) {
  return (isInput ? "in-" : "out-") + std::to_string(nextPrivatePort_++);
}

jack_port_t* JackMIDIServices::registerJackPort(const std::string& wanted, bool isInput,
                                                bool isPrivate, const std::string& displayName,
                                                std::string* shortName) {
  const unsigned long flags = isInput ? JackPortIsInput : JackPortIsOutput;
  for (int attempt = 1; attempt <= kNameAttempts; ++attempt) {
    std::string candidate = wanted;
    if (attempt > 1) {
      candidate = isPrivate ? privatePortName(isInput) : wanted + " " + std::to_string(attempt);
    }
    jack_port_t* port =
        jack_port_register(jack_, candidate.c_str(), JACK_DEFAULT_MIDI_TYPE, flags, 0);
    if (!port) continue;
    *shortName = candidate;
    const jack_uuid_t uuid = jack_port_uuid(port);
    if (isPrivate) {
      jack_set_property(jack_, uuid, JackEndpointTable::kPrivatePortKey, jack_port_name(port),
                        "text/plain");
    } else {
      jack_set_property(jack_, uuid, JACK_METADATA_PRETTY_NAME, displayName.c_str(), "text/plain");
    }
    return port;
  }
  return nullptr;
}

// A private stream registers again under the short name it had, so that a
// server restart keeps its port names.
template <typename Stream>
bool JackMIDIServices::registerPort(Stream& stream) {
  if (!jack_) return false;
  constexpr bool isInput = std::is_same_v<Stream, JackInputStream>;
  const std::string wanted =
      stream.isPrivate ? (stream.shortName.empty() ? privatePortName(isInput) : stream.shortName)
                       : stream.displayName;
  stream.port =
      registerJackPort(wanted, isInput, stream.isPrivate, stream.displayName, &stream.shortName);
  stream.linked = false;
  return stream.port != nullptr;
}

void JackMIDIServices::link(JackInputStream& stream) {
  const JackEndpoint* source = endpoints_.find(stream.peer);
  if (!jack_ || !stream.port || !source || !source->present || stream.linked) return;
  const int result = jack_connect(jack_, source->jackName.c_str(), jack_port_name(stream.port));
  stream.linked = result == 0 || result == EEXIST;
}

void JackMIDIServices::link(JackOutputStream& stream) {
  const JackEndpoint* destination = endpoints_.find(stream.peer);
  if (!jack_ || !stream.port || !destination || !destination->present || stream.linked) return;
  const int result =
      jack_connect(jack_, jack_port_name(stream.port), destination->jackName.c_str());
  stream.linked = result == 0 || result == EEXIST;
  // The server takes a new connection into the graph when a cycle begins; the
  // cycle running now may still have the old graph, and what it took from the
  // ring would go nowhere. So the ring waits for that cycle to end, and nobody
  // waits here: senders (and the reader, behind our lock) carry on at once.
  if (result == 0) stream.heldUntilCycle.store(processTable_.cycles() + 1);
}

void JackMIDIServices::publishProcessTable() {
  auto table = std::make_unique<JackProcessTable::Table>();
  for (auto& stream : inputs_) {
    if (stream->port) table->inputs.push_back({stream->port, &stream->ring, &stream->dropped});
  }
  for (auto& stream : outputs_) {
    if (stream->port) {
      table->outputs.push_back(
          {stream->port, &stream->ring, &stream->dropped, &stream->heldUntilCycle});
    }
  }
  processTable_.publish(std::move(table));
}

void JackMIDIServices::refreshEndpoints() {
  if (!jack_) return;
  std::vector<std::string> privatePorts;
  std::map<std::string, std::string> ownNames;
  auto note = [&](const auto& stream) {
    if (!stream->port) return;
    const std::string jackName = jack_port_name(stream->port);
    if (stream->isPrivate) {
      privatePorts.push_back(jackName);
    } else {
      ownNames[jackName] = stream->displayName;
      endpoints_.rename(stream->endpoint, jackName);
    }
  };
  for (const auto& stream : inputs_) note(stream);
  for (const auto& stream : outputs_) note(stream);
  endpoints_.refresh(jack_, privatePorts, ownNames);

  auto relink = [&](auto& stream) {
    if (!stream->isPrivate) return;
    const JackEndpoint* peer = endpoints_.find(stream->peer);
    if (!peer || !peer->present) {
      stream->linked = false;
      return;
    }
    // A peer that went away and came back between two listings is present
    // both times, but the server dropped the connection with its old port.
    if (stream->linked && stream->port &&
        !jack_port_connected_to(stream->port, peer->jackName.c_str())) {
      stream->linked = false;
    }
    link(*stream);
  };
  for (auto& stream : inputs_) relink(stream);
  for (auto& stream : outputs_) relink(stream);
}

void JackMIDIServices::unregister(jack_port_t*& port) {
  if (jack_ && port) {
    // The server keeps metadata after the port is gone, and its identifier
    // goes to the next port registered.
    jack_remove_properties(jack_, jack_port_uuid(port));
    jack_port_unregister(jack_, port);
  }
  port = nullptr;
}

std::shared_ptr<JackOutputStream> JackMIDIServices::outputStreamTo(MIDIEndpointRef dest) {
  for (const auto& stream : outputs_) {
    if (stream->isPrivate && stream->peer == dest) return stream;
  }
  auto stream = std::make_shared<JackOutputStream>();
  stream->peer = dest;
  registerPort(*stream);
  outputs_.push_back(stream);
  publishProcessTable();
  link(*stream);
  return stream;
}

std::vector<std::shared_ptr<JackInputStream>> JackMIDIServices::liveInputs() {
  std::lock_guard lock(mutex_);
  return inputs_;
}

// --- the contract -----------------------------------------------------------

OSStatus JackMIDIServices::MIDIClientCreate(const std::string& name, MIDINotifyProc notifyProc,
                                            void* notifyRefCon, MIDIClientRef* outClient) {
  if (!outClient) return kMIDIInvalidClient;
  std::lock_guard lock(mutex_);
  auto client = std::make_shared<Client>();
  client->ref = newRef();
  client->name = name;
  client->notifyProc = notifyProc;
  client->notifyRefCon = notifyRefCon;
  clients_[client->ref] = client;
  *outClient = client->ref;
  return noErr;
}

OSStatus JackMIDIServices::MIDIClientDispose(MIDIClientRef clientRef) {
  {
    std::lock_guard lock(mutex_);
    auto found = clients_.find(clientRef);
    if (found == clients_.end()) return kMIDIInvalidClient;
    found->second->alive = false;
    clients_.erase(found);

    std::vector<MIDIPortRef> ownPorts;
    for (auto it = ports_.begin(); it != ports_.end();) {
      if (it->second.client != clientRef) {
        ++it;
        continue;
      }
      ownPorts.push_back(it->first);
      it = ports_.erase(it);
    }
    auto inputs = takeOut(inputs_, [&](const JackInputStream& s) { return s.client == clientRef; });
    auto outputs = takeOut(
        outputs_, [&](const JackOutputStream& s) { return !s.isPrivate && s.client == clientRef; });
    for (auto& stream : inputs) stream->alive = false;
    for (auto& stream : outputs_) {
      std::lock_guard writing(stream->writeMutex);
      for (MIDIPortRef port : ownPorts) stream->splitters.erase(port);
    }
    if (!inputs.empty() || !outputs.empty()) {
      publishProcessTable();
      for (auto& stream : inputs) unregister(stream->port);
      for (auto& stream : outputs) unregister(stream->port);
      refreshEndpoints();
      watcher_.markDirty();
    }
  }
  gate_.waitUntilIdle(clientRef);
  return noErr;
}

OSStatus JackMIDIServices::MIDIInputPortCreate(MIDIClientRef client, const std::string&,
                                               MIDIReadProc readProc, void* refCon,
                                               MIDIPortRef* outPort) {
  std::lock_guard lock(mutex_);
  if (!clients_.count(client)) return kMIDIInvalidClient;
  if (!outPort) return kMIDIInvalidPort;
  Port port;
  port.ref = newRef();
  port.client = client;
  port.isInput = true;
  port.readProc = readProc;
  port.refCon = refCon;
  ports_[port.ref] = port;
  *outPort = port.ref;
  return noErr;
}

OSStatus JackMIDIServices::MIDIOutputPortCreate(MIDIClientRef client, const std::string&,
                                                MIDIPortRef* outPort) {
  std::lock_guard lock(mutex_);
  if (!clients_.count(client)) return kMIDIInvalidClient;
  if (!outPort) return kMIDIInvalidPort;
  Port port;
  port.ref = newRef();
  port.client = client;
  ports_[port.ref] = port;
  *outPort = port.ref;
  return noErr;
}

OSStatus JackMIDIServices::MIDIPortConnectSource(MIDIPortRef portRef, MIDIEndpointRef source,
                                                 void* connRefCon) {
  std::lock_guard lock(mutex_);
  auto port = ports_.find(portRef);
  if (port == ports_.end() || !port->second.isInput) return kMIDIInvalidPort;
  const JackEndpoint* endpoint = endpoints_.find(source);
  if (!endpoint || !endpoint->isSource) return kMIDIUnknownEndpoint;
  for (const auto& stream : inputs_) {
    if (stream->inputPort == portRef && stream->peer == source) return noErr;
  }
  auto stream = std::make_shared<JackInputStream>();
  stream->client = port->second.client;
  stream->inputPort = portRef;
  stream->readProc = port->second.readProc;
  stream->refCon = port->second.refCon;
  stream->connRefCon = connRefCon;
  stream->peer = source;
  if (jack_ && !registerPort(*stream)) return kMIDINotPermitted;
  inputs_.push_back(stream);
  publishProcessTable();
  link(*stream);
  return noErr;
}

OSStatus JackMIDIServices::MIDIPortDisconnectSource(MIDIPortRef portRef, MIDIEndpointRef source) {
  std::lock_guard lock(mutex_);
  if (!ports_.count(portRef)) return kMIDIInvalidPort;
  auto taken = takeOut(inputs_, [&](const JackInputStream& s) {
    return s.inputPort == portRef && s.peer == source;
  });
  if (taken.empty()) return kMIDINoConnection;
  for (auto& stream : taken) stream->alive = false;
  publishProcessTable();
  for (auto& stream : taken) unregister(stream->port);
  return noErr;
}

OSStatus JackMIDIServices::MIDIDestinationCreate(MIDIClientRef client, const std::string& name,
                                                 MIDIReadProc readProc, void* refCon,
                                                 MIDIEndpointRef* outDest) {
  std::lock_guard lock(mutex_);
  if (!clients_.count(client)) return kMIDIInvalidClient;
  if (!outDest) return kMIDIUnknownEndpoint;
  auto stream = std::make_shared<JackInputStream>();
  stream->client = client;
  stream->readProc = readProc;
  stream->refCon = refCon;
  return publishVirtualEndpoint(std::move(stream), name, inputs_, outDest);
}

OSStatus JackMIDIServices::MIDISourceCreate(MIDIClientRef client, const std::string& name,
                                            MIDIEndpointRef* outSrc) {
  std::lock_guard lock(mutex_);
  if (!clients_.count(client)) return kMIDIInvalidClient;
  if (!outSrc) return kMIDIUnknownEndpoint;
  auto stream = std::make_shared<JackOutputStream>();
  stream->client = client;
  return publishVirtualEndpoint(std::move(stream), name, outputs_, outSrc);
}

// A virtual destination is one of our JACK input ports, a virtual source one
// of our output ports. Called with mutex_ held.
template <typename Stream>
OSStatus JackMIDIServices::publishVirtualEndpoint(std::shared_ptr<Stream> stream,
                                                  const std::string& name,
                                                  std::vector<std::shared_ptr<Stream>>& streams,
                                                  MIDIEndpointRef* outEndpoint) {
  constexpr bool isSource = std::is_same_v<Stream, JackOutputStream>;
  stream->isPrivate = false;
  stream->displayName = name;
  if (jack_ && !registerPort(*stream)) return kMIDINotPermitted;
  const std::string jackName =
      stream->port ? jack_port_name(stream->port) : requestedName_ + ":" + name;
  stream->endpoint = endpoints_.refFor(isSource, jackName);
  streams.push_back(stream);
  publishProcessTable();
  refreshEndpoints();
  watcher_.markDirty();
  *outEndpoint = stream->endpoint;
  return noErr;
}

OSStatus JackMIDIServices::MIDIObjectGetStringProperty(MIDIObjectRef obj,
                                                       const std::string& propertyID,
                                                       std::optional<std::string>* str) {
  std::lock_guard lock(mutex_);
  const JackEndpoint* endpoint = endpoints_.find(obj);
  if (!endpoint) return kMIDIObjectNotFound;
  if (propertyID != kMIDIPropertyName) return kMIDIUnknownProperty;
  if (str) *str = endpoint->name;
  return noErr;
}

OSStatus JackMIDIServices::MIDIObjectGetIntegerProperty(MIDIObjectRef obj,
                                                        const std::string& propertyID,
                                                        int32_t* outValue) {
  std::lock_guard lock(mutex_);
  const JackEndpoint* endpoint = endpoints_.find(obj);
  if (!endpoint) return kMIDIObjectNotFound;
  int32_t value = 0;
  if (propertyID == kMIDIPropertyUniqueID) {
    value = endpoint->uniqueID;
  } else if (propertyID == kMIDIPropertyPhysical) {
    value = endpoint->physical ? 1 : 0;
  } else if (propertyID == kMIDIPropertyOffline) {
    value = endpoints_.offline(*endpoint) ? 1 : 0;
  } else {
    return kMIDIUnknownProperty;
  }
  if (outValue) *outValue = value;
  return noErr;
}

ItemCount JackMIDIServices::MIDIGetNumberOfSources() {
  std::lock_guard lock(mutex_);
  return endpoints_.sources().size();
}

MIDIEndpointRef JackMIDIServices::MIDIGetSource(ItemCount sourceIndex0) {
  std::lock_guard lock(mutex_);
  const auto& sources = endpoints_.sources();
  return sourceIndex0 < sources.size() ? sources[sourceIndex0] : 0;
}

ItemCount JackMIDIServices::MIDIGetNumberOfDestinations() {
  std::lock_guard lock(mutex_);
  return endpoints_.destinations().size();
}

MIDIEndpointRef JackMIDIServices::MIDIGetDestination(ItemCount destIndex0) {
  std::lock_guard lock(mutex_);
  const auto& destinations = endpoints_.destinations();
  return destIndex0 < destinations.size() ? destinations[destIndex0] : 0;
}

OSStatus JackMIDIServices::MIDISend(MIDIPortRef portRef, MIDIEndpointRef dest,
                                    const MIDIPacketList* pktlist) {
  std::shared_ptr<JackOutputStream> stream;
  {
    std::lock_guard lock(mutex_);
    auto port = ports_.find(portRef);
    if (port == ports_.end() || port->second.isInput) return kMIDIInvalidPort;
    const JackEndpoint* endpoint = endpoints_.find(dest);
    if (!endpoint || endpoint->isSource) return kMIDIUnknownEndpoint;
    if (!pktlist) return kMIDIMessageSendErr;
    stream = outputStreamTo(dest);
    if (!jack_) {
      droppedWhileAway_.fetch_add(1);
      return noErr;
    }
  }
  return writeMessages(*stream, portRef, pktlist);
}

OSStatus JackMIDIServices::MIDIReceived(MIDIEndpointRef src, const MIDIPacketList* pktlist) {
  std::shared_ptr<JackOutputStream> stream;
  {
    std::lock_guard lock(mutex_);
    for (const auto& candidate : outputs_) {
      if (!candidate->isPrivate && candidate->endpoint == src) stream = candidate;
    }
    if (!stream) return kMIDIUnknownEndpoint;
    if (!pktlist) return kMIDIMessageSendErr;
    if (!jack_) {
      droppedWhileAway_.fetch_add(1);
      return noErr;
    }
  }
  return writeMessages(*stream, 0, pktlist);
}

OSStatus JackMIDIServices::writeMessages(JackOutputStream& stream, MIDIPortRef port,
                                         const MIDIPacketList* pktlist) {
  std::lock_guard writing(stream.writeMutex);
  JackMessageSplitter& splitter = stream.splitters[port];
  OSStatus status = noErr;
  MIDIPacketIterator packets(pktlist);
  MIDIPacketView packet;
  while (packets.next(packet)) {
    splitter.feed(packet.data, packet.length, [&](const Byte* data, size_t length) {
      if (status == noErr && writeWhenRoom(stream.ring, data, length)) return;
      status = kMIDIMessageSendErr;
      stream.dropped.fetch_add(1);
    });
  }
  return status;
}

bool JackMIDIServices::waitUntilDelivered(double timeoutSeconds) {
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(std::max(0.0, timeoutSeconds)));
  auto waitFor = [&](auto done) {
    while (!done()) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    return true;
  };
  auto outputsDrained = [&] {
    std::lock_guard lock(mutex_);
    return std::all_of(outputs_.begin(), outputs_.end(),
                       [](const auto& stream) { return stream->ring.empty(); });
  };
  if (!waitFor(outputsDrained)) return false;
  if (!serverAway()) {
    // The cycle that took the last bytes, and the one after it, are over:
    // the receiving clients have had them.
    const uint64_t cycle = processTable_.cycles();
    if (!waitFor([&] { return processTable_.cycles() >= cycle + 2 || serverAway(); })) {
      return false;
    }
  }
  auto inputsDelivered = [&] {
    std::lock_guard lock(mutex_);
    const bool ringsEmpty = std::all_of(inputs_.begin(), inputs_.end(),
                                        [](const auto& stream) { return stream->ring.empty(); });
    return ringsEmpty && !reader_.busy();
  };
  return waitFor(inputsDelivered);
}

std::string JackMIDIServices::jackClientName() {
  std::lock_guard lock(mutex_);
  return jack_ ? jack_get_client_name(jack_) : std::string();
}

std::string JackMIDIServices::jackPortName(MIDIEndpointRef endpoint) {
  std::lock_guard lock(mutex_);
  const JackEndpoint* found = endpoints_.find(endpoint);
  return found ? found->jackName : std::string();
}

bool JackMIDIServices::serverAway() {
  std::lock_guard lock(mutex_);
  return jack_ == nullptr;
}

}  // namespace wex
