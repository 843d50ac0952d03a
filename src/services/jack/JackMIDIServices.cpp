#include "services/jack/JackMIDIServices.h"

#include <algorithm>
#include <type_traits>

namespace wex {

namespace {

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
  std::unique_lock lock(mutex_);
  if (!ports_.count(portRef)) return kMIDIInvalidPort;
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

}  // namespace wex
