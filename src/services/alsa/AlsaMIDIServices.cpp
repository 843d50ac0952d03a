#include "services/alsa/AlsaMIDIServices.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "support/SystemLog.h"

namespace wex {

namespace {

constexpr const char* kSequencerDevice = "/dev/snd/seq";
constexpr unsigned kPrivateInputCaps = SND_SEQ_PORT_CAP_WRITE;
constexpr unsigned kControlCaps = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_WRITE;
constexpr unsigned kVirtualSourceCaps = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
constexpr unsigned kVirtualDestinationCaps = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
constexpr unsigned kPortType = SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION;

bool sameAddress(const snd_seq_addr_t& a, const snd_seq_addr_t& b) {
  return a.client == b.client && a.port == b.port;
}

}  // namespace

bool AlsaMIDIServices::sequencerPresent() {
  return access(kSequencerDevice, R_OK | W_OK) == 0;
}

std::shared_ptr<AlsaMIDIServices> AlsaMIDIServices::open(const std::string& clientName,
                                                         std::string* error) {
  auto sequencer = AlsaSequencer::open(clientName, error);
  if (!sequencer) return nullptr;
  std::shared_ptr<AlsaMIDIServices> services(new AlsaMIDIServices(std::move(sequencer)));
  if (services->controlPort_ < 0) {
    if (error) *error = "the ALSA sequencer refused a port";
    return nullptr;
  }
  return services;
}

AlsaMIDIServices::AlsaMIDIServices(std::unique_ptr<AlsaSequencer> sequencer)
    : sequencer_(std::move(sequencer)),
      endpoints_([this] { return newRef(); }),
      sender_(*sequencer_),
      reader_(*sequencer_, gate_, *this) {
  // One private port receives System:Announce and the delivery markers, and
  // sends whatever goes straight to a destination.
  controlPort_ = sequencer_->createPort("control", kControlCaps, kPortType);
  if (controlPort_ < 0) return;
  const snd_seq_addr_t announce{SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE};
  const snd_seq_addr_t control{static_cast<unsigned char>(sequencer_->clientId()),
                               static_cast<unsigned char>(controlPort_)};
  if (!sequencer_->subscribe(announce, control)) {
    SystemLog::write("\tALSA: cannot follow System:Announce; devices plugged in later go unseen");
  }
  {
    std::lock_guard lock(mutex_);
    refreshEndpoints();
    notifiedSignature_ = endpoints_.signature();
  }
  reader_.start();
}

AlsaMIDIServices::~AlsaMIDIServices() {
  reader_.stop();
}

// --- the reader's work ------------------------------------------------------

std::map<int, std::shared_ptr<AlsaInputStream>> AlsaMIDIServices::inputStreams() {
  std::lock_guard lock(mutex_);
  std::map<int, std::shared_ptr<AlsaInputStream>> streams;
  for (const auto& stream : inputs_) streams[stream->alsaPort] = stream;
  return streams;
}

void AlsaMIDIServices::setupMayHaveChanged() {
  std::vector<std::shared_ptr<ClientTable::Client>> listeners;
  {
    std::lock_guard lock(mutex_);
    refreshEndpoints();
    const std::string signature = endpoints_.signature();
    if (signature == notifiedSignature_) return;
    notifiedSignature_ = signature;
    listeners = clients_.listeners();
  }
  ClientTable::notifySetupChanged(listeners, gate_);
}

// About once a second, on the reader's thread: input lost since the last
// report, and, once for each destination, that it stopped taking what is
// sent to it (the others are not held up by it). What the subscribers of a
// virtual source of ours did not take is counted together.
void AlsaMIDIServices::reportDrops() {
  const auto droppedByEndpoint = sender_.droppedByEndpoint();
  std::lock_guard lock(mutex_);
  auto report = [](uint64_t now, uint64_t& reported, const char* what) {
    // A count can go down: the drops of a source that is gone are forgotten.
    if (now <= reported) {
      reported = now;
      return;
    }
    SystemLog::writef(what, static_cast<unsigned long long>(now - reported));
    reported = now;
  };
  report(reader_.overruns(), overrunsReported_,
         "\tALSA MIDI input overflowed %llu times and lost events: the reader fell behind");
  uint64_t toSubscribers = 0;
  for (const auto& [ref, dropped] : droppedByEndpoint) {
    const AlsaEndpoint* endpoint = endpoints_.find(ref);
    if (!endpoint || endpoint->isSource) {
      toSubscribers += dropped;
      continue;
    }
    if (!stalledReported_.insert(ref).second) continue;
    SystemLog::writef(
        "\tALSA MIDI output to \"%s\" dropped %llu events: it takes no more, and what is sent "
        "to it is dropped at once while it does not read; the other destinations still get "
        "theirs",
        endpoint->name.c_str(), static_cast<unsigned long long>(dropped));
  }
  report(toSubscribers, droppedReported_,
         "\tALSA MIDI output dropped %llu events: the sequencer did not take them");
}

// --- the rest hold mutex_ ---------------------------------------------------

void AlsaMIDIServices::refreshEndpoints() {
  endpoints_.refresh(sequencer_->ports(), sequencer_->clientId(), ownNames_);
  // A destination that went and came back lost our subscription with it.
  destinationsInUse_.clear();
  for (auto& stream : inputs_) {
    if (stream->inputPort != 0) link(*stream);
  }
}

// Subscribes a connection's port to its source wherever the source is now:
// a source that went away and came back is a new port to the sequencer.
void AlsaMIDIServices::link(AlsaInputStream& stream) {
  const AlsaEndpoint* source = endpoints_.find(stream.peer);
  const snd_seq_addr_t ours{static_cast<unsigned char>(sequencer_->clientId()),
                            static_cast<unsigned char>(stream.alsaPort)};
  if (!source || !source->present) {
    stream.linked = false;
    return;
  }
  if (stream.linked && sameAddress(stream.linkedTo, source->address) &&
      sequencer_->subscribed(source->address, ours)) {
    return;
  }
  if (stream.linked && !sameAddress(stream.linkedTo, source->address)) {
    sequencer_->unsubscribe(stream.linkedTo, ours);
  }
  stream.linked = sequencer_->subscribe(source->address, ours);
  stream.linkedTo = source->address;
}

// Kernel clients take events only while someone is subscribed to their port:
// virmidi drops them, and a hardware port opens its device on subscription.
// So our sending port subscribes to each destination it sends to (once; the
// subscription goes with the destination or with our client).
void AlsaMIDIServices::useDestination(const snd_seq_addr_t& address) {
  if (address.client == sequencer_->clientId()) return;
  if (!destinationsInUse_.insert({address.client, address.port}).second) return;
  const snd_seq_addr_t ours{static_cast<unsigned char>(sequencer_->clientId()),
                            static_cast<unsigned char>(controlPort_)};
  sequencer_->subscribe(ours, address);
}

void AlsaMIDIServices::removeInputs(const std::vector<std::shared_ptr<AlsaInputStream>>& taken) {
  for (const auto& stream : taken) {
    stream->alive = false;
    ownNames_.erase(stream->alsaPort);
    sequencer_->deletePort(stream->alsaPort);
  }
}

// --- the contract -----------------------------------------------------------

OSStatus AlsaMIDIServices::MIDIClientCreate(const std::string& name, MIDINotifyProc notifyProc,
                                            void* notifyRefCon, MIDIClientRef* outClient) {
  std::lock_guard lock(mutex_);
  return clients_.createClient(name, notifyProc, notifyRefCon, outClient);
}

OSStatus AlsaMIDIServices::MIDIClientDispose(MIDIClientRef clientRef) {
  {
    std::lock_guard lock(mutex_);
    std::vector<MIDIPortRef> ownPorts;
    if (!clients_.removeClient(clientRef, &ownPorts)) return kMIDIInvalidClient;
    for (MIDIPortRef port : ownPorts) sender_.forget(port);
    std::vector<std::shared_ptr<AlsaInputStream>> taken;
    auto split = std::stable_partition(inputs_.begin(), inputs_.end(),
                                       [&](const auto& s) { return s->client != clientRef; });
    taken.assign(split, inputs_.end());
    inputs_.erase(split, inputs_.end());
    removeInputs(taken);
    for (auto it = virtualSources_.begin(); it != virtualSources_.end();) {
      if (it->client != clientRef) {
        ++it;
        continue;
      }
      sender_.forget(it->endpoint);
      ownNames_.erase(it->alsaPort);
      sequencer_->deletePort(it->alsaPort);
      it = virtualSources_.erase(it);
    }
    refreshEndpoints();
  }
  gate_.waitUntilIdle(clientRef);
  return noErr;
}

OSStatus AlsaMIDIServices::MIDIInputPortCreate(MIDIClientRef client, const std::string& portName,
                                               MIDIReadProc readProc, void* refCon,
                                               MIDIPortRef* outPort) {
  std::lock_guard lock(mutex_);
  return clients_.createPort(client, portName, true, readProc, refCon, outPort);
}

OSStatus AlsaMIDIServices::MIDIOutputPortCreate(MIDIClientRef client, const std::string& portName,
                                                MIDIPortRef* outPort) {
  std::lock_guard lock(mutex_);
  return clients_.createPort(client, portName, false, nullptr, nullptr, outPort);
}

OSStatus AlsaMIDIServices::MIDIPortConnectSource(MIDIPortRef portRef, MIDIEndpointRef source,
                                                 void* connRefCon) {
  std::lock_guard lock(mutex_);
  const ClientTable::Port* port = clients_.port(portRef);
  if (!port || !port->isInput) return kMIDIInvalidPort;
  const AlsaEndpoint* endpoint = endpoints_.find(source);
  if (!endpoint) return kMIDIUnknownEndpoint;
  if (!endpoint->isSource) return kMIDIWrongEndpointType;
  for (const auto& stream : inputs_) {
    if (stream->inputPort == portRef && stream->peer == source) return noErr;
  }
  auto stream = std::make_shared<AlsaInputStream>();
  stream->client = port->client;
  stream->inputPort = portRef;
  stream->readProc = port->readProc;
  stream->refCon = port->refCon;
  stream->connRefCon = connRefCon;
  stream->peer = source;
  stream->alsaPort = sequencer_->createPort(port->portOwner + " from " + endpoint->name,
                                            kPrivateInputCaps, kPortType);
  if (stream->alsaPort < 0) return kMIDINotPermitted;
  inputs_.push_back(stream);
  link(*stream);
  return noErr;
}

OSStatus AlsaMIDIServices::MIDIPortDisconnectSource(MIDIPortRef portRef, MIDIEndpointRef source) {
  std::lock_guard lock(mutex_);
  const ClientTable::Port* port = clients_.port(portRef);
  if (!port || !port->isInput) return kMIDIInvalidPort;
  std::vector<std::shared_ptr<AlsaInputStream>> taken;
  for (auto it = inputs_.begin(); it != inputs_.end();) {
    if ((*it)->inputPort == portRef && (*it)->peer == source) {
      taken.push_back(*it);
      it = inputs_.erase(it);
    } else {
      ++it;
    }
  }
  if (taken.empty()) return kMIDINoConnection;
  removeInputs(taken);
  return noErr;
}

OSStatus AlsaMIDIServices::MIDIDestinationCreate(MIDIClientRef client, const std::string& name,
                                                 MIDIReadProc readProc, void* refCon,
                                                 MIDIEndpointRef* outDest) {
  if (!outDest) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  if (!clients_.hasClient(client)) return kMIDIInvalidClient;
  auto stream = std::make_shared<AlsaInputStream>();
  stream->client = client;
  stream->readProc = readProc;
  stream->refCon = refCon;
  stream->alsaPort = sequencer_->createPort(name, kVirtualDestinationCaps, kPortType);
  if (stream->alsaPort < 0) return kMIDINotPermitted;
  const snd_seq_addr_t address{static_cast<unsigned char>(sequencer_->clientId()),
                               static_cast<unsigned char>(stream->alsaPort)};
  stream->endpoint = endpoints_.addOwn(false, name, address);
  ownNames_[stream->alsaPort] = name;
  inputs_.push_back(stream);
  refreshEndpoints();
  *outDest = stream->endpoint;
  return noErr;
}

OSStatus AlsaMIDIServices::MIDISourceCreate(MIDIClientRef client, const std::string& name,
                                            MIDIEndpointRef* outSrc) {
  if (!outSrc) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  if (!clients_.hasClient(client)) return kMIDIInvalidClient;
  VirtualSource source;
  source.client = client;
  source.alsaPort = sequencer_->createPort(name, kVirtualSourceCaps, kPortType);
  if (source.alsaPort < 0) return kMIDINotPermitted;
  const snd_seq_addr_t address{static_cast<unsigned char>(sequencer_->clientId()),
                               static_cast<unsigned char>(source.alsaPort)};
  source.endpoint = endpoints_.addOwn(true, name, address);
  ownNames_[source.alsaPort] = name;
  virtualSources_.push_back(source);
  refreshEndpoints();
  *outSrc = source.endpoint;
  return noErr;
}

OSStatus AlsaMIDIServices::MIDIObjectGetStringProperty(MIDIObjectRef obj,
                                                       const std::string& propertyID,
                                                       std::optional<std::string>* str) {
  std::lock_guard lock(mutex_);
  return clients_.stringProperty(obj, endpoints_.find(obj), propertyID, str);
}

OSStatus AlsaMIDIServices::MIDIObjectGetIntegerProperty(MIDIObjectRef obj,
                                                        const std::string& propertyID,
                                                        int32_t* outValue) {
  std::lock_guard lock(mutex_);
  const AlsaEndpoint* endpoint = endpoints_.find(obj);
  const bool offline = endpoint && !endpoint->present;
  return clients_.integerProperty(obj, endpoint, offline, propertyID, outValue);
}

ItemCount AlsaMIDIServices::MIDIGetNumberOfSources() {
  std::lock_guard lock(mutex_);
  return endpoints_.sources().size();
}

MIDIEndpointRef AlsaMIDIServices::MIDIGetSource(ItemCount sourceIndex0) {
  std::lock_guard lock(mutex_);
  return endpoints_.sourceAt(sourceIndex0);
}

ItemCount AlsaMIDIServices::MIDIGetNumberOfDestinations() {
  std::lock_guard lock(mutex_);
  return endpoints_.destinations().size();
}

MIDIEndpointRef AlsaMIDIServices::MIDIGetDestination(ItemCount destIndex0) {
  std::lock_guard lock(mutex_);
  return endpoints_.destinationAt(destIndex0);
}

OSStatus AlsaMIDIServices::MIDISend(MIDIPortRef portRef, MIDIEndpointRef dest,
                                    const MIDIPacketList* pktlist) {
  snd_seq_addr_t address{};
  {
    std::lock_guard lock(mutex_);
    const ClientTable::Port* port = clients_.port(portRef);
    if (!port || port->isInput) return kMIDIInvalidPort;
    const AlsaEndpoint* endpoint = endpoints_.find(dest);
    if (!endpoint) return kMIDIUnknownEndpoint;
    if (endpoint->isSource) return kMIDIWrongEndpointType;
    if (!pktlist) return kMIDIMessageSendErr;
    if (!endpoint->present) return kMIDIUnknownEndpoint;
    address = endpoint->address;
    useDestination(address);
  }
  return sender_.send({portRef, dest}, controlPort_, address, false, pktlist);
}

OSStatus AlsaMIDIServices::MIDIReceived(MIDIEndpointRef src, const MIDIPacketList* pktlist) {
  int alsaPort = -1;
  {
    std::lock_guard lock(mutex_);
    for (const auto& source : virtualSources_) {
      if (source.endpoint == src) alsaPort = source.alsaPort;
    }
    if (alsaPort < 0) {
      // Only our own virtual sources can be published on.
      const AlsaEndpoint* endpoint = endpoints_.find(src);
      if (!endpoint) return kMIDIUnknownEndpoint;
      return endpoint->isSource ? kMIDINotPermitted : kMIDIWrongEndpointType;
    }
    if (!pktlist) return kMIDIMessageSendErr;
  }
  return sender_.send({0, src}, alsaPort, snd_seq_addr_t{}, true, pktlist);
}

bool AlsaMIDIServices::waitUntilDelivered(double timeoutSeconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(std::max(0.0, timeoutSeconds)));
  // The sequencer delivers in order: once the reader has seen a marker sent
  // now, it has handed on everything that reached us before it.
  return reader_.waitForEverythingBefore(controlPort_, deadline);
}

std::string AlsaMIDIServices::endpointNameAt(const std::string& text, bool isSource) {
  snd_seq_addr_t address{};
  if (!sequencer_->parseAddress(text, &address)) return {};
  std::lock_guard lock(mutex_);
  const AlsaEndpoint* endpoint = endpoints_.findAt(isSource, address);
  return endpoint ? endpoint->name : std::string();
}

std::string AlsaMIDIServices::addressOf(MIDIEndpointRef ref) {
  std::lock_guard lock(mutex_);
  const AlsaEndpoint* endpoint = endpoints_.find(ref);
  if (!endpoint) return {};
  return std::to_string(endpoint->address.client) + ":" + std::to_string(endpoint->address.port);
}

}  // namespace wex
