#include "services/ClientTable.h"

#include "support/OwnerName.h"

namespace wex {

namespace {

bool isIntegerProperty(const std::string& propertyID) {
  return propertyID == kMIDIPropertyUniqueID || propertyID == kMIDIPropertyPhysical ||
         propertyID == kMIDIPropertyOffline;
}

}  // namespace

OSStatus ClientTable::createClient(const std::string& name, MIDINotifyProc notifyProc,
                                   void* notifyRefCon, MIDIClientRef* outClient) {
  if (!outClient) return kMIDINotPermitted;
  auto client = std::make_shared<Client>();
  client->ref = newRef();
  client->name = name;
  client->portOwner = OwnerName::current().empty() ? name : OwnerName::current();
  client->notifyProc = notifyProc;
  client->notifyRefCon = notifyRefCon;
  clients_[client->ref] = client;
  *outClient = client->ref;
  return noErr;
}

OSStatus ClientTable::createPort(MIDIClientRef client, const std::string& name, bool isInput,
                                 MIDIReadProc readProc, void* refCon, MIDIPortRef* outPort) {
  if (!outPort) return kMIDINotPermitted;
  const auto owner = clients_.find(client);
  if (owner == clients_.end()) return kMIDIInvalidClient;
  Port port;
  port.ref = newRef();
  port.client = client;
  port.name = name;
  port.portOwner = owner->second->portOwner;
  port.isInput = isInput;
  port.readProc = readProc;
  port.refCon = refCon;
  ports_[port.ref] = port;
  *outPort = port.ref;
  return noErr;
}

const ClientTable::Port* ClientTable::port(MIDIPortRef ref) const {
  auto found = ports_.find(ref);
  return found == ports_.end() ? nullptr : &found->second;
}

bool ClientTable::removeClient(MIDIClientRef clientRef, std::vector<MIDIPortRef>* removedPorts) {
  auto found = clients_.find(clientRef);
  if (found == clients_.end()) return false;
  found->second->alive = false;
  clients_.erase(found);
  for (auto it = ports_.begin(); it != ports_.end();) {
    if (it->second.client != clientRef) {
      ++it;
      continue;
    }
    if (removedPorts) removedPorts->push_back(it->first);
    it = ports_.erase(it);
  }
  return true;
}

std::vector<std::shared_ptr<ClientTable::Client>> ClientTable::listeners() const {
  std::vector<std::shared_ptr<Client>> result;
  for (const auto& [ref, client] : clients_) {
    if (client->notifyProc) result.push_back(client);
  }
  return result;
}

void ClientTable::notifySetupChanged(const std::vector<std::shared_ptr<Client>>& listeners,
                                     CallbackGate& gate) {
  const MIDINotification notification{kMIDIMsgSetupChanged, sizeof(MIDINotification)};
  for (const auto& client : listeners) {
    gate.run(client->ref, [&] {
      if (client->alive.load()) client->notifyProc(&notification, client->notifyRefCon);
    });
  }
}

// Endpoints, clients and ports have a name; endpoints the integer properties.
OSStatus ClientTable::stringProperty(MIDIObjectRef obj, const ListedEndpoint* endpoint,
                                     const std::string& propertyID,
                                     std::optional<std::string>* str) const {
  if (!str) return kMIDINotPermitted;
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

OSStatus ClientTable::integerProperty(MIDIObjectRef obj, const ListedEndpoint* endpoint,
                                      bool offline, const std::string& propertyID,
                                      int32_t* outValue) const {
  if (!outValue) return kMIDINotPermitted;
  if (!endpoint && !clients_.count(obj) && !ports_.count(obj)) return kMIDIObjectNotFound;
  if (propertyID == kMIDIPropertyName) return kMIDIWrongPropertyType;
  if (!endpoint || !isIntegerProperty(propertyID)) return kMIDIUnknownProperty;
  if (propertyID == kMIDIPropertyUniqueID) {
    *outValue = endpoint->uniqueID;
  } else if (propertyID == kMIDIPropertyPhysical) {
    *outValue = endpoint->physical ? 1 : 0;
  } else {
    *outValue = offline ? 1 : 0;
  }
  return noErr;
}

}  // namespace wex
