#pragma once

#include <jack/jack.h>

#include <map>
#include <string>
#include <vector>

#include "services/EndpointTable.h"

namespace wex {

// One MIDI endpoint as the JACK services list it: a JACK MIDI port of
// another client (outputs are sources, inputs destinations) or one of our own
// virtual endpoints.
struct JackEndpoint : ListedEndpoint {
  std::string jackName;  // full JACK port name, "client:port", the key
};

// The endpoints of the JACK graph, known by their full port names.
class JackEndpointTable : public EndpointTable<JackEndpoint> {
 public:
  // Metadata key that marks the ports a wexmidi process uses for its own
  // connections; they are never listed, ours or another process's. Its value
  // is the port's full name: JACK reuses the identifiers that metadata hangs
  // on, so a mark left behind must not hide a later, unrelated port.
  static constexpr const char* kPrivatePortKey = "urn:wexmidi:connection-port";

  using EndpointTable::EndpointTable;

  // The reference for a port name, made on first use.
  MIDIEndpointRef refFor(bool isSource, const std::string& jackName);
  // Moves an endpoint of ours to a new port name (our client was renamed).
  void rename(MIDIEndpointRef ref, const std::string& jackName);

  // A MIDI port of the graph as the server describes it.
  struct ServerPort {
    bool isSource;
    std::string jackName;
    std::string displayName;
    bool physical;
  };
  // The MIDI ports of the graph, sources first, without the ports marked
  // private (ours or another wexmidi process's) and without other clients'
  // ports named as connection ports. Asks the server only: call
  // it without holding what guards the table, since it can take milliseconds.
  static std::vector<ServerPort> listServerPorts(jack_client_t* client);
  // Whether the port carries the private mark for its name.
  static bool isPrivatePort(jack_port_t* port, const std::string& jackName);
  // Whether a port of another client is named as a wexmidi connection port:
  // an input "OWNER from CLIENT:PORT" (a source it hears, so listed among the
  // destinations) or an output "OWNER to CLIENT:PORT". The mark can be lost
  // (a metadata store that went away with a session manager), the name stays.
  // A physical port (a device) is never taken for one, whatever its name.
  static bool hasConnectionPortName(bool isSource, const std::string& jackName);

  // Lists the MIDI ports of the graph again from `ports`. `ownPrivatePorts`
  // are left out; `ownNames` gives the names of our own virtual endpoints by
  // port name.
  void refresh(const std::vector<ServerPort>& ports,
               const std::vector<std::string>& ownPrivatePorts,
               const std::map<std::string, std::string>& ownNames);
  // The server went away: the endpoints stay listed, offline.
  void setServerAway(bool away) { serverAway_ = away; }
  bool serverAway() const { return serverAway_; }

  bool offline(const JackEndpoint& endpoint) const { return serverAway_ || !endpoint.present; }

  // Changes whenever what the listing shows changes (order, names, offline).
  std::string signature() const;

 private:
  JackEndpoint& endpointNamed(bool isSource, const std::string& jackName);
  static void listDirection(jack_client_t* client, bool isSource, std::vector<ServerPort>& ports);
  static std::string displayName(jack_port_t* port, const std::string& jackName);

  bool serverAway_ = false;
};

}  // namespace wex
