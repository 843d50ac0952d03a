#include "services/jack/JackMIDIServices.h"

#include <algorithm>
#include <type_traits>

#include "support/OwnerName.h"

namespace wex {

namespace {

bool isIntegerProperty(const std::string& propertyID) {
  return propertyID == kMIDIPropertyUniqueID || propertyID == kMIDIPropertyPhysical ||
         propertyID == kMIDIPropertyOffline;
}

template <typename Streams, typename Predicate>
Streams takeOut(Streams& streams, Predicate predicate) {
  Streams taken;
  auto split = std::stable_partition(streams.begin(), streams.end(),
                                     [&](const auto& stream) { return !predicate(*stream); });
  taken.assign(split, streams.end());
  streams.erase(split, streams.end());
  return taken;
}

}  // namespace

OSStatus JackMIDIServices::MIDIClientCreate(const std::string& name, MIDINotifyProc notifyProc,
                                            void* notifyRefCon, MIDIClientRef* outClient) {
  if (!outClient) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  auto client = std::make_shared<Client>();
  client->ref = newRef();
  client->name = name;
  client->notifyProc = notifyProc;
  client->notifyRefCon = notifyRefCon;
  client->portOwner = OwnerName::current().empty() ? name : OwnerName::current();
  clients_[client->ref] = client;
  *outClient = client->ref;
  return noErr;
}

OSStatus JackMIDIServices::MIDIClientDispose(MIDIClientRef clientRef) {
  {
    std::unique_lock lock(mutex_);
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
      retire(lock, inputs, outputs);
      refreshEndpoints();
      watcher_.markDirty();
    }
  }
  gate_.waitUntilIdle(clientRef);
  return noErr;
}

OSStatus JackMIDIServices::MIDIInputPortCreate(MIDIClientRef client, const std::string& portName,
                                               MIDIReadProc readProc, void* refCon,
                                               MIDIPortRef* outPort) {
  if (!outPort) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  const auto owner = clients_.find(client);
  if (owner == clients_.end()) return kMIDIInvalidClient;
  Port port;
  port.ref = newRef();
  port.name = portName;
  port.client = client;
  port.portOwner = owner->second->portOwner;
  port.isInput = true;
  port.readProc = readProc;
  port.refCon = refCon;
  ports_[port.ref] = port;
  *outPort = port.ref;
  return noErr;
}

OSStatus JackMIDIServices::MIDIOutputPortCreate(MIDIClientRef client, const std::string& portName,
                                                MIDIPortRef* outPort) {
  if (!outPort) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  const auto owner = clients_.find(client);
  if (owner == clients_.end()) return kMIDIInvalidClient;
  Port port;
  port.ref = newRef();
  port.name = portName;
  port.client = client;
  port.portOwner = owner->second->portOwner;
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
  if (!endpoint) return kMIDIUnknownEndpoint;
  if (!endpoint->isSource) return kMIDIWrongEndpointType;
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
  stream->shortName = port->second.portOwner + " from " + endpoint->jackName;
  if (jack_ && !registerPort(*stream)) return kMIDINotPermitted;
  inputs_.push_back(stream);
  publishProcessTable();
  link(*stream);
  return noErr;
}

OSStatus JackMIDIServices::MIDIPortDisconnectSource(MIDIPortRef portRef, MIDIEndpointRef source) {
  std::unique_lock lock(mutex_);
  auto port = ports_.find(portRef);
  if (port == ports_.end() || !port->second.isInput) return kMIDIInvalidPort;
  auto taken = takeOut(inputs_, [&](const JackInputStream& s) {
    return s.inputPort == portRef && s.peer == source;
  });
  if (taken.empty()) return kMIDINoConnection;
  for (auto& stream : taken) stream->alive = false;
  retire(lock, taken, {});
  return noErr;
}

OSStatus JackMIDIServices::MIDIDestinationCreate(MIDIClientRef client, const std::string& name,
                                                 MIDIReadProc readProc, void* refCon,
                                                 MIDIEndpointRef* outDest) {
  if (!outDest) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  if (!clients_.count(client)) return kMIDIInvalidClient;
  auto stream = std::make_shared<JackInputStream>();
  stream->client = client;
  stream->readProc = readProc;
  stream->refCon = refCon;
  return publishVirtualEndpoint(std::move(stream), name, inputs_, outDest);
}

OSStatus JackMIDIServices::MIDISourceCreate(MIDIClientRef client, const std::string& name,
                                            MIDIEndpointRef* outSrc) {
  if (!outSrc) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  if (!clients_.count(client)) return kMIDIInvalidClient;
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

// Endpoints, clients and ports have a name; endpoints the integer properties.
OSStatus JackMIDIServices::MIDIObjectGetStringProperty(MIDIObjectRef obj,
                                                       const std::string& propertyID,
                                                       std::optional<std::string>* str) {
  if (!str) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  const JackEndpoint* endpoint = endpoints_.find(obj);
  const auto client = clients_.find(obj);
  const auto port = ports_.find(obj);
  if (!endpoint && client == clients_.end() && port == ports_.end()) return kMIDIObjectNotFound;
  if (isIntegerProperty(propertyID)) return kMIDIWrongPropertyType;
  if (propertyID != kMIDIPropertyName) return kMIDIUnknownProperty;
  if (endpoint) {
    *str = endpoint->name;
  } else if (client != clients_.end()) {
    *str = client->second->name;
  } else {
    *str = port->second.name;
  }
  return noErr;
}

OSStatus JackMIDIServices::MIDIObjectGetIntegerProperty(MIDIObjectRef obj,
                                                        const std::string& propertyID,
                                                        int32_t* outValue) {
  if (!outValue) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  const JackEndpoint* endpoint = endpoints_.find(obj);
  if (!endpoint && !clients_.count(obj) && !ports_.count(obj)) return kMIDIObjectNotFound;
  if (propertyID == kMIDIPropertyName) return kMIDIWrongPropertyType;
  if (!endpoint || !isIntegerProperty(propertyID)) return kMIDIUnknownProperty;
  if (propertyID == kMIDIPropertyUniqueID) {
    *outValue = endpoint->uniqueID;
  } else if (propertyID == kMIDIPropertyPhysical) {
    *outValue = endpoint->physical ? 1 : 0;
  } else {
    *outValue = endpoints_.offline(*endpoint) ? 1 : 0;
  }
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

}  // namespace wex
