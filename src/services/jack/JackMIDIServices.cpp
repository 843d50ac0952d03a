#include "services/jack/JackMIDIServices.h"

#include <algorithm>
#include <chrono>
#include <type_traits>

#include "support/OwnerName.h"

namespace wex {

namespace {

// How long a client's disposal waits for what it published last to go out.
constexpr auto kPublishedWait = std::chrono::milliseconds(500);

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
  std::lock_guard lock(mutex_);
  return clients_.createClient(name, notifyProc, notifyRefCon, outClient);
}

OSStatus JackMIDIServices::MIDIClientDispose(MIDIClientRef clientRef) {
  awaitPublished(clientRef);
  {
    std::unique_lock lock(mutex_);
    std::vector<MIDIPortRef> ownPorts;
    if (!clients_.removeClient(clientRef, &ownPorts)) return kMIDIInvalidClient;
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

// What a client published on its virtual sources just before it goes (a
// sender's note offs) leaves the rings, and the cycle after that has run,
// before the sources' ports go with the client.
void JackMIDIServices::awaitPublished(MIDIClientRef clientRef) {
  OutputStreams pending;
  {
    std::lock_guard lock(mutex_);
    if (!jack_) return;
    for (const auto& stream : outputs_) {
      if (!stream->isPrivate && stream->client == clientRef && !stream->ring.empty())
        pending.push_back(stream);
    }
  }
  if (pending.empty()) return;
  const auto deadline = JackProgressSignal::Clock::now() + kPublishedWait;
  JackProgressSignal& cycleEnded = processTable_.cycleEnded();
  auto drained = [&] {
    return serverAway() || std::all_of(pending.begin(), pending.end(),
                                       [](const auto& stream) { return stream->ring.empty(); });
  };
  if (!cycleEnded.waitUntil(drained, deadline)) return;
  const uint64_t cycle = processTable_.cycles();
  cycleEnded.waitUntil([&] { return processTable_.cycles() >= cycle + 2 || serverAway(); },
                       deadline);
}

OSStatus JackMIDIServices::MIDIInputPortCreate(MIDIClientRef client, const std::string& portName,
                                               MIDIReadProc readProc, void* refCon,
                                               MIDIPortRef* outPort) {
  std::lock_guard lock(mutex_);
  return clients_.createPort(client, portName, true, readProc, refCon, outPort);
}

OSStatus JackMIDIServices::MIDIOutputPortCreate(MIDIClientRef client, const std::string& portName,
                                                MIDIPortRef* outPort) {
  std::lock_guard lock(mutex_);
  return clients_.createPort(client, portName, false, nullptr, nullptr, outPort);
}

OSStatus JackMIDIServices::MIDIPortConnectSource(MIDIPortRef portRef, MIDIEndpointRef source,
                                                 void* connRefCon) {
  std::lock_guard lock(mutex_);
  const ClientTable::Port* port = clients_.port(portRef);
  if (!port || !port->isInput) return kMIDIInvalidPort;
  const JackEndpoint* endpoint = endpoints_.find(source);
  if (!endpoint) return kMIDIUnknownEndpoint;
  if (!endpoint->isSource) return kMIDIWrongEndpointType;
  for (const auto& stream : inputs_) {
    if (stream->inputPort == portRef && stream->peer == source) return noErr;
  }
  auto stream = std::make_shared<JackInputStream>();
  stream->client = port->client;
  stream->inputPort = portRef;
  stream->readProc = port->readProc;
  stream->refCon = port->refCon;
  stream->connRefCon = connRefCon;
  stream->peer = source;
  stream->shortName = port->portOwner + " from " + endpoint->jackName;
  if (jack_ && !registerPort(*stream)) return kMIDINotPermitted;
  inputs_.push_back(stream);
  publishProcessTable();
  link(*stream);
  return noErr;
}

OSStatus JackMIDIServices::MIDIPortDisconnectSource(MIDIPortRef portRef, MIDIEndpointRef source) {
  std::unique_lock lock(mutex_);
  const ClientTable::Port* port = clients_.port(portRef);
  if (!port || !port->isInput) return kMIDIInvalidPort;
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
  if (!clients_.hasClient(client)) return kMIDIInvalidClient;
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
  if (!clients_.hasClient(client)) return kMIDIInvalidClient;
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
      stream->port ? jack_port_name(stream->port) : givenName_ + ":" + name;
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
  return clients_.stringProperty(obj, endpoints_.find(obj), propertyID, str);
}

OSStatus JackMIDIServices::MIDIObjectGetIntegerProperty(MIDIObjectRef obj,
                                                        const std::string& propertyID,
                                                        int32_t* outValue) {
  std::lock_guard lock(mutex_);
  const JackEndpoint* endpoint = endpoints_.find(obj);
  const bool offline = endpoint && endpoints_.offline(*endpoint);
  return clients_.integerProperty(obj, endpoint, offline, propertyID, outValue);
}

ItemCount JackMIDIServices::MIDIGetNumberOfSources() {
  std::lock_guard lock(mutex_);
  return endpoints_.sources().size();
}

MIDIEndpointRef JackMIDIServices::MIDIGetSource(ItemCount sourceIndex0) {
  std::lock_guard lock(mutex_);
  return endpoints_.sourceAt(sourceIndex0);
}

ItemCount JackMIDIServices::MIDIGetNumberOfDestinations() {
  std::lock_guard lock(mutex_);
  return endpoints_.destinations().size();
}

MIDIEndpointRef JackMIDIServices::MIDIGetDestination(ItemCount destIndex0) {
  std::lock_guard lock(mutex_);
  return endpoints_.destinationAt(destIndex0);
}

}  // namespace wex
