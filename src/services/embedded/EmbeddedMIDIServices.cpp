#include "services/embedded/EmbeddedMIDIServices.h"

#include <algorithm>
#include <atomic>

#include "services/MIDIPacketListBuffer.h"

namespace wex {

namespace {

// References are unique in the whole process, so that a reference kept from
// services that were replaced never names an object of the new ones.
std::atomic<MIDIObjectRef> gNextRef{0x1000};
std::atomic<int32_t> gNextUniqueID{0x2A0001};

MIDIObjectRef newRef() {
  return gNextRef.fetch_add(1);
}

std::shared_ptr<const std::vector<Byte>> copyOf(const MIDIPacketList* pktlist) {
  const auto* bytes = reinterpret_cast<const Byte*>(pktlist);
  return std::make_shared<const std::vector<Byte>>(bytes, bytes + MIDIPacketListByteSize(pktlist));
}

const MIDIPacketList* listOf(const std::vector<Byte>& bytes) {
  return reinterpret_cast<const MIDIPacketList*>(bytes.data());
}

}  // namespace

EmbeddedMIDIServices::EmbeddedMIDIServices(bool withLoopbackBus) {
  if (!withLoopbackBus) return;
  std::lock_guard lock(mutex_);
  loopbackDestination_ = addEndpointLocked(false, Owner::Loopback, std::string(kLoopbackName));
  loopbackSource_ = addEndpointLocked(true, Owner::Loopback, std::string(kLoopbackName));
}

// Both threads stop before either queue goes, since a callback on one may
// post to the other.
EmbeddedMIDIServices::~EmbeddedMIDIServices() {
  notifications_.stop();
  delivery_.stop();
}

MIDIEndpointRef EmbeddedMIDIServices::addEndpointLocked(bool source, Owner owner,
                                                        const std::optional<std::string>& name,
                                                        MIDIClientRef client, MIDIReadProc readProc,
                                                        void* refCon) {
  const MIDIEndpointRef ref = newRef();
  Endpoint endpoint;
  endpoint.source = source;
  endpoint.owner = owner;
  endpoint.client = client;
  endpoint.name = name;
  endpoint.uniqueID = gNextUniqueID.fetch_add(1);
  endpoint.readProc = readProc;
  endpoint.refCon = refCon;
  if (owner == Owner::Device && !source) {
    endpoint.recording = std::make_shared<EmbeddedDeviceRecording>();
  }
  (endpoint.source ? sources_ : destinations_).push_back(ref);
  endpoints_.emplace(ref, std::move(endpoint));
  notifySetupChangedLocked();
  return ref;
}

void EmbeddedMIDIServices::removeEndpointLocked(MIDIEndpointRef ref) {
  auto it = endpoints_.find(ref);
  if (it == endpoints_.end()) return;
  auto& order = it->second.source ? sources_ : destinations_;
  order.erase(std::remove(order.begin(), order.end(), ref), order.end());
  for (auto& [portRef, port] : ports_) port.connections.erase(ref);
  Endpoint gone = std::move(it->second);
  gone.readProc = nullptr;
  gone.refCon = nullptr;
  gone_.emplace(ref, std::move(gone));
  endpoints_.erase(it);
  notifySetupChangedLocked();
}

// One notification per client is enough while an earlier one still waits.
void EmbeddedMIDIServices::notifySetupChangedLocked() {
  for (const auto& [ref, client] : clients_) {
    if (!client.notifyProc || !notificationPending_.insert(ref).second) continue;
    notifications_.post(ref, [this, ref = ref] { deliverNotification(ref); });
  }
}

void EmbeddedMIDIServices::deliverNotification(MIDIClientRef clientRef) {
  MIDINotifyProc proc;
  void* refCon;
  {
    std::lock_guard lock(mutex_);
    notificationPending_.erase(clientRef);
    auto it = clients_.find(clientRef);
    if (it == clients_.end()) return;
    proc = it->second.notifyProc;
    refCon = it->second.notifyRefCon;
  }
  const MIDINotification notification{kMIDIMsgSetupChanged, sizeof(MIDINotification)};
  proc(&notification, refCon);
}

OSStatus EmbeddedMIDIServices::MIDIClientCreate(const std::string& name, MIDINotifyProc notifyProc,
                                                void* notifyRefCon, MIDIClientRef* outClient) {
  if (auto status = fault("MIDIClientCreate")) return *status;
  if (!outClient) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  const MIDIClientRef ref = newRef();
  clients_.emplace(ref, Client{name, notifyProc, notifyRefCon});
  *outClient = ref;
  return noErr;
}

OSStatus EmbeddedMIDIServices::MIDIClientDispose(MIDIClientRef clientRef) {
  if (auto status = fault("MIDIClientDispose")) return *status;
  {
    std::lock_guard lock(mutex_);
    if (clients_.erase(clientRef) == 0) return kMIDIInvalidClient;
    notificationPending_.erase(clientRef);
    std::erase_if(ports_, [&](const auto& entry) { return entry.second.client == clientRef; });
    std::vector<MIDIEndpointRef> owned;
    for (const auto& [ref, endpoint] : endpoints_) {
      if (endpoint.owner == Owner::Client && endpoint.client == clientRef) owned.push_back(ref);
    }
    for (MIDIEndpointRef ref : owned) removeEndpointLocked(ref);
  }
  // Nothing new can be queued for the client now; drop what is queued and
  // wait for a callback of it that may be running.
  delivery_.forgetClient(clientRef);
  notifications_.forgetClient(clientRef);
  return noErr;
}

OSStatus EmbeddedMIDIServices::MIDIInputPortCreate(MIDIClientRef client,
                                                   const std::string& portName,
                                                   MIDIReadProc readProc, void* refCon,
                                                   MIDIPortRef* outPort) {
  if (auto status = fault("MIDIInputPortCreate")) return *status;
  if (!outPort) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  if (!clients_.count(client)) return kMIDIInvalidClient;
  const MIDIPortRef ref = newRef();
  ports_.emplace(ref, Port{client, portName, true, readProc, refCon, {}});
  *outPort = ref;
  return noErr;
}

OSStatus EmbeddedMIDIServices::MIDIOutputPortCreate(MIDIClientRef client,
                                                    const std::string& portName,
                                                    MIDIPortRef* outPort) {
  if (auto status = fault("MIDIOutputPortCreate")) return *status;
  if (!outPort) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  if (!clients_.count(client)) return kMIDIInvalidClient;
  const MIDIPortRef ref = newRef();
  ports_.emplace(ref, Port{client, portName, false, nullptr, nullptr, {}});
  *outPort = ref;
  return noErr;
}

OSStatus EmbeddedMIDIServices::MIDIPortConnectSource(MIDIPortRef portRef, MIDIEndpointRef source,
                                                     void* connRefCon) {
  if (auto status = fault("MIDIPortConnectSource")) return *status;
  std::lock_guard lock(mutex_);
  auto port = ports_.find(portRef);
  if (port == ports_.end() || !port->second.input) return kMIDIInvalidPort;
  auto endpoint = endpoints_.find(source);
  if (endpoint == endpoints_.end()) return kMIDIUnknownEndpoint;
  if (!endpoint->second.source) return kMIDIWrongEndpointType;
  port->second.connections[source] = connRefCon;
  return noErr;
}

OSStatus EmbeddedMIDIServices::MIDIPortDisconnectSource(MIDIPortRef portRef,
                                                        MIDIEndpointRef source) {
  if (auto status = fault("MIDIPortDisconnectSource")) return *status;
  std::lock_guard lock(mutex_);
  auto port = ports_.find(portRef);
  if (port == ports_.end() || !port->second.input) return kMIDIInvalidPort;
  return port->second.connections.erase(source) ? noErr : kMIDINoConnection;
}

OSStatus EmbeddedMIDIServices::createEndpoint(MIDIClientRef client, const std::string& name,
                                              bool source, MIDIReadProc readProc, void* refCon,
                                              MIDIEndpointRef* outRef) {
  if (!outRef) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  if (!clients_.count(client)) return kMIDIInvalidClient;
  *outRef = addEndpointLocked(source, Owner::Client, name, client, readProc, refCon);
  return noErr;
}

OSStatus EmbeddedMIDIServices::MIDIDestinationCreate(MIDIClientRef client, const std::string& name,
                                                     MIDIReadProc readProc, void* refCon,
                                                     MIDIEndpointRef* outDest) {
  if (auto status = fault("MIDIDestinationCreate")) return *status;
  return createEndpoint(client, name, false, readProc, refCon, outDest);
}

OSStatus EmbeddedMIDIServices::MIDISourceCreate(MIDIClientRef client, const std::string& name,
                                                MIDIEndpointRef* outSrc) {
  if (auto status = fault("MIDISourceCreate")) return *status;
  return createEndpoint(client, name, true, nullptr, nullptr, outSrc);
}

ItemCount EmbeddedMIDIServices::MIDIGetNumberOfSources() {
  std::lock_guard lock(mutex_);
  return sources_.size();
}

MIDIEndpointRef EmbeddedMIDIServices::MIDIGetSource(ItemCount sourceIndex0) {
  std::lock_guard lock(mutex_);
  return sourceIndex0 < sources_.size() ? sources_[sourceIndex0] : 0;
}

ItemCount EmbeddedMIDIServices::MIDIGetNumberOfDestinations() {
  std::lock_guard lock(mutex_);
  return destinations_.size();
}

MIDIEndpointRef EmbeddedMIDIServices::MIDIGetDestination(ItemCount destIndex0) {
  std::lock_guard lock(mutex_);
  return destIndex0 < destinations_.size() ? destinations_[destIndex0] : 0;
}

// Queues the list for every input port connected to the source.
void EmbeddedMIDIServices::publishLocked(MIDIEndpointRef source, const SharedBytes& bytes) {
  for (const auto& [portRef, port] : ports_) {
    auto connection = port.connections.find(source);
    if (connection == port.connections.end() || !port.readProc) continue;
    delivery_.post(port.client,
                   [proc = port.readProc, refCon = port.refCon, connRefCon = connection->second,
                    bytes] { proc(listOf(*bytes), refCon, connRefCon); });
  }
}

void EmbeddedMIDIServices::deliverToDestinationLocked(const Endpoint& destination,
                                                      const SharedBytes& bytes) {
  switch (destination.owner) {
    case Owner::Loopback:
      publishLocked(loopbackSource_, bytes);
      break;
    case Owner::Device:
      delivery_.post(
          0, [recording = destination.recording, bytes] { recording->record(listOf(*bytes)); });
      break;
    case Owner::Client:
      if (!destination.readProc) break;
      delivery_.post(destination.client, [proc = destination.readProc, refCon = destination.refCon,
                                          bytes] { proc(listOf(*bytes), refCon, nullptr); });
      break;
  }
}

OSStatus EmbeddedMIDIServices::MIDISend(MIDIPortRef portRef, MIDIEndpointRef dest,
                                        const MIDIPacketList* pktlist) {
  if (auto status = fault("MIDISend")) return *status;
  if (!pktlist) return kMIDIMessageSendErr;
  const SharedBytes bytes = copyOf(pktlist);
  std::lock_guard lock(mutex_);
  auto port = ports_.find(portRef);
  if (port == ports_.end() || port->second.input) return kMIDIInvalidPort;
  auto endpoint = endpoints_.find(dest);
  if (endpoint == endpoints_.end()) {
    auto gone = gone_.find(dest);
    if (gone == gone_.end()) return kMIDIUnknownEndpoint;
    return gone->second.source ? kMIDIWrongEndpointType : kMIDIUnknownEndpoint;
  }
  if (endpoint->second.source) return kMIDIWrongEndpointType;
  deliverToDestinationLocked(endpoint->second, bytes);
  return noErr;
}

OSStatus EmbeddedMIDIServices::MIDIReceived(MIDIEndpointRef src, const MIDIPacketList* pktlist) {
  if (auto status = fault("MIDIReceived")) return *status;
  if (!pktlist) return kMIDIMessageSendErr;
  const SharedBytes bytes = copyOf(pktlist);
  std::lock_guard lock(mutex_);
  auto endpoint = endpoints_.find(src);
  if (endpoint == endpoints_.end()) return kMIDIUnknownEndpoint;
  if (!endpoint->second.source) return kMIDIWrongEndpointType;
  if (endpoint->second.owner != Owner::Client) return kMIDINotPermitted;
  publishLocked(src, bytes);
  return noErr;
}

bool EmbeddedMIDIServices::waitUntilDelivered(double timeoutSeconds) {
  return delivery_.waitUntilIdle(timeoutSeconds);
}

bool EmbeddedMIDIServices::waitUntilNotified(double timeoutSeconds) {
  return notifications_.waitUntilIdle(timeoutSeconds);
}

MIDIEndpointRef EmbeddedMIDIServices::createDeviceSource(const std::optional<std::string>& name) {
  std::lock_guard lock(mutex_);
  return addEndpointLocked(true, Owner::Device, name);
}

MIDIEndpointRef EmbeddedMIDIServices::createDeviceDestination(
    const std::optional<std::string>& name) {
  std::lock_guard lock(mutex_);
  return addEndpointLocked(false, Owner::Device, name);
}

OSStatus EmbeddedMIDIServices::removeDevice(MIDIEndpointRef device) {
  std::lock_guard lock(mutex_);
  auto it = endpoints_.find(device);
  if (it == endpoints_.end()) return kMIDIUnknownEndpoint;
  if (it->second.owner != Owner::Device) return kMIDINotPermitted;
  removeEndpointLocked(device);
  return noErr;
}

OSStatus EmbeddedMIDIServices::feedSource(MIDIEndpointRef source, const MIDIPacketList* pktlist) {
  if (!pktlist) return kMIDIMessageSendErr;
  const SharedBytes bytes = copyOf(pktlist);
  std::lock_guard lock(mutex_);
  auto it = endpoints_.find(source);
  if (it == endpoints_.end()) return kMIDIUnknownEndpoint;
  if (!it->second.source || it->second.owner != Owner::Device) return kMIDINotPermitted;
  publishLocked(source, bytes);
  return noErr;
}

OSStatus EmbeddedMIDIServices::feedSourceBytes(MIDIEndpointRef source,
                                               const std::vector<Byte>& bytes, MIDITimeStamp time) {
  constexpr size_t kLargestPacket = 0xFFFF;
  const size_t packets = bytes.empty() ? 1 : (bytes.size() + kLargestPacket - 1) / kLargestPacket;
  MIDIPacketListBuffer list(kMIDIPacketListHeaderSize + packets * kMIDIPacketHeaderSize +
                            bytes.size());
  for (size_t start = 0; start < bytes.size(); start += kLargestPacket) {
    list.addPacket(bytes.data() + start, std::min(kLargestPacket, bytes.size() - start), time);
  }
  return feedSource(source, list.list());
}

std::shared_ptr<EmbeddedDeviceRecording> EmbeddedMIDIServices::recording(
    MIDIEndpointRef destination) {
  std::lock_guard lock(mutex_);
  auto it = endpoints_.find(destination);
  return it == endpoints_.end() ? nullptr : it->second.recording;
}

size_t EmbeddedMIDIServices::clientCount() {
  std::lock_guard lock(mutex_);
  return clients_.size();
}

std::vector<std::string> EmbeddedMIDIServices::clientNames() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> names;
  for (const auto& [ref, client] : clients_) names.push_back(client.name);
  return names;
}

size_t EmbeddedMIDIServices::portCount() {
  std::lock_guard lock(mutex_);
  return ports_.size();
}

size_t EmbeddedMIDIServices::connectionCount() {
  std::lock_guard lock(mutex_);
  size_t count = 0;
  for (const auto& [ref, port] : ports_) count += port.connections.size();
  return count;
}

}  // namespace wex
