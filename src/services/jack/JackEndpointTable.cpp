#include "services/jack/JackEndpointTable.h"

#include <jack/metadata.h>

#include <algorithm>

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

JackEndpointTable::JackEndpointTable(std::function<MIDIObjectRef()> newRef)
    : newRef_(std::move(newRef)) {}

int32_t JackEndpointTable::uniqueIDFor(const std::string& jackName) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (unsigned char c : jackName) {
    hash ^= c;
    hash *= 16777619u;
  }
  return static_cast<int32_t>(hash);
}

MIDIEndpointRef JackEndpointTable::refFor(bool isSource, const std::string& jackName) {
  const auto key = std::make_pair(isSource, jackName);
  auto found = refsByName_.find(key);
  if (found != refsByName_.end()) return found->second;
  JackEndpoint endpoint;
  endpoint.ref = newRef_();
  endpoint.isSource = isSource;
  endpoint.jackName = jackName;
  endpoint.name = jackName;
  endpoint.uniqueID = uniqueIDFor(jackName);
  refsByName_[key] = endpoint.ref;
  endpoints_[endpoint.ref] = endpoint;
  return endpoint.ref;
}

void JackEndpointTable::rename(MIDIEndpointRef ref, const std::string& jackName) {
  auto found = endpoints_.find(ref);
  if (found == endpoints_.end() || found->second.jackName == jackName) return;
  JackEndpoint& endpoint = found->second;
  refsByName_.erase(std::make_pair(endpoint.isSource, endpoint.jackName));
  endpoint.jackName = jackName;
  refsByName_[std::make_pair(endpoint.isSource, jackName)] = ref;
}

const JackEndpoint* JackEndpointTable::find(MIDIEndpointRef ref) const {
  auto found = endpoints_.find(ref);
  return found == endpoints_.end() ? nullptr : &found->second;
}

void JackEndpointTable::refresh(jack_client_t* client,
                                const std::vector<std::string>& ownPrivatePorts,
                                const std::map<std::string, std::string>& ownNames) {
  serverAway_ = false;
  for (auto& [ref, endpoint] : endpoints_) endpoint.present = false;
  refreshDirection(client, true, ownPrivatePorts, ownNames);
  refreshDirection(client, false, ownPrivatePorts, ownNames);
}

void JackEndpointTable::refreshDirection(jack_client_t* client, bool isSource,
                                         const std::vector<std::string>& ownPrivatePorts,
                                         const std::map<std::string, std::string>& ownNames) {
  std::vector<MIDIEndpointRef>& listed = isSource ? sources_ : destinations_;
  listed.clear();
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
    JackEndpoint& endpoint = endpoints_[refFor(isSource, jackName)];
    auto own = ownNames.find(jackName);
    endpoint.name = own != ownNames.end() ? own->second : displayName(port, jackName);
    endpoint.physical = (jack_port_flags(port) & JackPortIsPhysical) != 0;
    endpoint.present = true;
    listed.push_back(endpoint.ref);
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
  std::string result;
  for (const auto* list : {&sources_, &destinations_}) {
    for (MIDIEndpointRef ref : *list) {
      const JackEndpoint& endpoint = endpoints_.at(ref);
      result += std::to_string(ref) + (offline(endpoint) ? "-" : "+") + endpoint.name + '\n';
    }
    result += '|';
  }
  return result;
}

}  // namespace wex
