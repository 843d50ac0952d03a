#include "services/jack/JackEndpointTable.h"

#include <jack/metadata.h>

#include <algorithm>
#include <optional>

namespace wex {

namespace {

std::optional<std::string> portProperty(jack_port_t* port, const char* key) {
  char* value = nullptr;
  char* type = nullptr;
  if (jack_get_property(jack_port_uuid(port), key, &value, &type) != 0) return std::nullopt;
  std::optional<std::string> result;
  if (value) result = value;
  jack_free(value);
  jack_free(type);
  return result;
}

}  // namespace

MIDIEndpointRef JackEndpointTable::refFor(bool isSource, const std::string& jackName) {
  return endpointNamed(isSource, jackName).ref;
}

JackEndpoint& JackEndpointTable::endpointNamed(bool isSource, const std::string& jackName) {
  JackEndpoint& endpoint = endpointFor(isSource, jackName);
  if (endpoint.jackName.empty()) endpoint.jackName = jackName;
  return endpoint;
}

void JackEndpointTable::rename(MIDIEndpointRef ref, const std::string& jackName) {
  JackEndpoint* found = find(ref);
  if (!found || found->jackName == jackName) return;
  rekey(found->isSource, found->jackName, jackName);
  found->jackName = jackName;
}

std::vector<JackEndpointTable::ServerPort> JackEndpointTable::listServerPorts(
    jack_client_t* client) {
  std::vector<ServerPort> ports;
  listDirection(client, true, ports);
  listDirection(client, false, ports);
  return ports;
}

void JackEndpointTable::listDirection(jack_client_t* client, bool isSource,
                                      std::vector<ServerPort>& ports) {
  // Sources are the ports that send MIDI, JACK outputs.
  const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                      isSource ? JackPortIsOutput : JackPortIsInput);
  if (!names) return;
  for (const char** name = names; *name; ++name) {
    const std::string jackName = *name;
    jack_port_t* port = jack_port_by_name(client, *name);
    if (!port || isPrivatePort(port, jackName)) continue;
    const bool physical = (jack_port_flags(port) & JackPortIsPhysical) != 0;
    if (!physical && !jack_port_is_mine(client, port) &&
        hasConnectionPortName(isSource, jackName)) {
      continue;
    }
    ports.push_back({isSource, jackName, displayName(port, jackName), physical});
  }
  jack_free(names);
}

void JackEndpointTable::refresh(const std::vector<ServerPort>& ports,
                                const std::vector<std::string>& ownPrivatePorts,
                                const std::map<std::string, std::string>& ownNames) {
  serverAway_ = false;
  beginListing();
  for (const ServerPort& port : ports) {
    if (std::find(ownPrivatePorts.begin(), ownPrivatePorts.end(), port.jackName) !=
        ownPrivatePorts.end()) {
      continue;
    }
    JackEndpoint& endpoint = endpointNamed(port.isSource, port.jackName);
    auto own = ownNames.find(port.jackName);
    endpoint.name = own != ownNames.end() ? own->second : port.displayName;
    endpoint.physical = port.physical;
    list(endpoint);
  }
}

bool JackEndpointTable::isPrivatePort(jack_port_t* port, const std::string& jackName) {
  return portProperty(port, kPrivatePortKey) == jackName;
}

bool JackEndpointTable::hasConnectionPortName(bool isSource, const std::string& jackName) {
  const size_t colon = jackName.find(':');
  if (colon == std::string::npos) return false;
  const std::string shortName = jackName.substr(colon + 1);
  const std::string joint = isSource ? " to " : " from ";
  for (size_t at = shortName.find(joint); at != std::string::npos;
       at = shortName.find(joint, at + 1)) {
    const std::string peer = shortName.substr(at + joint.size());
    // The peer is a full port name, "client:port", whose colon has no space
    // beside it (a bridge's "(capture): name" is not one).
    const size_t peerColon = peer.find(':');
    if (at > 0 && peerColon != std::string::npos && peerColon > 0 && peerColon + 1 < peer.size() &&
        peer[peerColon - 1] != ' ' && peer[peerColon + 1] != ' ') {
      return true;
    }
  }
  return false;
}

std::string JackEndpointTable::displayName(jack_port_t* port, const std::string& jackName) {
  if (auto pretty = portProperty(port, JACK_METADATA_PRETTY_NAME); pretty && !pretty->empty()) {
    return *pretty;
  }
  const int size = jack_port_name_size();
  std::vector<char> first(static_cast<size_t>(size), '\0');
  std::vector<char> second(static_cast<size_t>(size), '\0');
  char* aliases[2] = {first.data(), second.data()};
  if (jack_port_get_aliases(port, aliases) > 0 && first[0] != '\0') return first.data();
  return jackName;
}

std::string JackEndpointTable::signature() const {
  return EndpointTable::signature([this](const JackEndpoint& endpoint) {
    return (offline(endpoint) ? "-" : "+") + endpoint.name;
  });
}

}  // namespace wex
