#pragma once

#include <jack/jack.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "services/MIDITypes.h"

namespace wex {

// One MIDI endpoint as the JACK services list it: a JACK MIDI port of
// another client (outputs are sources, inputs destinations) or one of our own
// virtual endpoints.
struct JackEndpoint {
  MIDIEndpointRef ref = 0;
  bool isSource = false;
  std::string jackName;  // full JACK port name, "client:port"
  std::string name;
  int32_t uniqueID = 0;
  bool physical = false;
  bool present = false;
};

// The endpoints of the JACK graph. A reference, once given to a port name,
// stays with that name for the life of the services, so that an endpoint
// that goes away and comes back (a device replugged, the server restarted)
// is the same endpoint again.
class JackEndpointTable {
 public:
  // Metadata key that marks the ports a wexmidi process uses for its own
  // connections; they are never listed, ours or another process's. Its value
  // is the port's full name: JACK reuses the identifiers that metadata hangs
  // on, so a mark left behind must not hide a later, unrelated port.
  static constexpr const char* kPrivatePortKey = "urn:wexmidi:connection-port";

  explicit JackEndpointTable(std::function<MIDIObjectRef()> newRef);

  // The reference for a port name, made on first use.
  MIDIEndpointRef refFor(bool isSource, const std::string& jackName);
  // Moves an endpoint of ours to a new port name (our client was renamed).
  void rename(MIDIEndpointRef ref, const std::string& jackName);

  // Lists the MIDI ports of the graph again. `ownPrivatePorts` are left
  // out; `ownNames` gives the names of our own virtual endpoints by port name.
  void refresh(jack_client_t* client, const std::vector<std::string>& ownPrivatePorts,
               const std::map<std::string, std::string>& ownNames);
  // The server went away: the endpoints stay listed, offline.
  void setServerAway(bool away) { serverAway_ = away; }
  bool serverAway() const { return serverAway_; }

  const std::vector<MIDIEndpointRef>& sources() const { return sources_; }
  const std::vector<MIDIEndpointRef>& destinations() const { return destinations_; }
  const JackEndpoint* find(MIDIEndpointRef ref) const;
  bool offline(const JackEndpoint& endpoint) const { return serverAway_ || !endpoint.present; }

  // Changes whenever what the listing shows changes (order, names, offline).
  std::string signature() const;

  // Stable across runs: a hash of the port name.
  static int32_t uniqueIDFor(const std::string& jackName);

 private:
  void refreshDirection(jack_client_t* client, bool isSource,
                        const std::vector<std::string>& ownPrivatePorts,
                        const std::map<std::string, std::string>& ownNames);
  static std::string displayName(jack_port_t* port, const std::string& jackName);
  static bool isPrivatePort(jack_port_t* port, const std::string& jackName);

  std::function<MIDIObjectRef()> newRef_;
  std::map<MIDIEndpointRef, JackEndpoint> endpoints_;
  std::map<std::pair<bool, std::string>, MIDIEndpointRef> refsByName_;
  std::vector<MIDIEndpointRef> sources_;
  std::vector<MIDIEndpointRef> destinations_;
  bool serverAway_ = false;
};

}  // namespace wex
