#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "services/CallbackGate.h"
#include "services/EndpointTable.h"
#include "services/MIDITypes.h"

namespace wex {

// The clients and ports that a backend has handed out, the references it
// hands out for them and for its endpoints, and the contract's answers about
// their properties. Not locked: the backend holds its own lock around it.
class ClientTable {
 public:
  struct Client {
    MIDIClientRef ref = 0;
    std::string name;
    // What the backend names the client's private ports after: the owner name
    // current when the client was made (the patch id in a composition), else
    // the client's name.
    std::string portOwner;
    MIDINotifyProc notifyProc = nullptr;
    void* notifyRefCon = nullptr;
    // False once disposed of: a notification already under way is not handed on.
    std::atomic<bool> alive{true};
  };
  struct Port {
    MIDIPortRef ref = 0;
    MIDIClientRef client = 0;
    std::string name;
    std::string portOwner;  // its client's
    bool isInput = false;
    MIDIReadProc readProc = nullptr;
    void* refCon = nullptr;
  };

  MIDIObjectRef newRef() { return nextRef_++; }

  // With the statuses of MIDIClientCreate and MIDI{Input,Output}PortCreate.
  OSStatus createClient(const std::string& name, MIDINotifyProc notifyProc, void* notifyRefCon,
                        MIDIClientRef* outClient);
  OSStatus createPort(MIDIClientRef client, const std::string& name, bool isInput,
                      MIDIReadProc readProc, void* refCon, MIDIPortRef* outPort);

  bool hasClient(MIDIClientRef client) const { return clients_.count(client) != 0; }
  // Null for an unknown port.
  const Port* port(MIDIPortRef port) const;
  // Takes the client and its ports out (the ports' references are added to
  // `removedPorts`); false for an unknown client.
  bool removeClient(MIDIClientRef client, std::vector<MIDIPortRef>* removedPorts);

  // The clients that want setup-changed notifications.
  std::vector<std::shared_ptr<Client>> listeners() const;
  // Hands a setup-changed notification to each of `listeners` through the
  // gate; call it without the backend's lock.
  static void notifySetupChanged(const std::vector<std::shared_ptr<Client>>& listeners,
                                 CallbackGate& gate);

  // The answers of MIDIObjectGet{String,Integer}Property for `obj`, one of
  // these clients or ports or the listed `endpoint` (null when `obj` is no
  // endpoint); `offline` is the endpoint's offline property.
  OSStatus stringProperty(MIDIObjectRef obj, const ListedEndpoint* endpoint,
                          const std::string& propertyID, std::optional<std::string>* str) const;
  OSStatus integerProperty(MIDIObjectRef obj, const ListedEndpoint* endpoint, bool offline,
                           const std::string& propertyID, int32_t* outValue) const;

 private:
  MIDIObjectRef nextRef_ = 1;
  std::map<MIDIClientRef, std::shared_ptr<Client>> clients_;
  std::map<MIDIPortRef, Port> ports_;
};

}  // namespace wex
