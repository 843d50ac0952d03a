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

void JackEndpointTable::refresh(jack_client_t* client,
                                const std::vector<std::string>& ownPrivatePorts,
                                const std::map<std::string, std::string>& ownNames) {
  serverAway_ = false;
  beginListing();
  refreshDirection(client, true, ownPrivatePorts, ownNames);
  refreshDirection(client, false, ownPrivatePorts, ownNames);
}

void JackEndpointTable::refreshDirection(jack_client_t* client, bool isSource,
                                         const std::vector<std::string>& ownPrivatePorts,
                                         const std::map<std::string, std::string>& ownNames) {
  // Sources are the ports that send MIDI, JACK outputs.
  const char** names = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE,
                                      isSource ? JackPortIsOutput : JackPortIsInput);
  if (!names) return;
  for (const char** name = names; *name; ++name) {
    const std::string jackName = *name;
    if (std::find(ownPrivatePorts.begin(), ownPrivatePorts.end(), jackName) !=
        ownPrivatePorts.end()) {
      continue;
    }
    jack_port_t* port = jack_port_by_name(client, *name);
    if (!port || isPrivatePort(port, jackName)) continue;
    JackEndpoint& endpoint = endpointNamed(isSource, jackName);
    auto own = ownNames.find(jackName);
    endpoint.name = own != ownNames.end() ? own->second : displayName(port, jackName);
    endpoint.physical = (jack_port_flags(port) & JackPortIsPhysical) != 0;
    list(endpoint);
  }
  jack_free(names);
}

bool JackEndpointTable::isPrivatePort(jack_port_t* port, const std::string& jackName) {
  return portProperty(port, kPrivatePortKey) == jackName;
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
