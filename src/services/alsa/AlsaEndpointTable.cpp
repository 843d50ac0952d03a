#include "services/alsa/AlsaEndpointTable.h"

#include <algorithm>

namespace wex {

namespace {

constexpr unsigned kSourceCaps = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
constexpr unsigned kDestinationCaps = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;

bool sameAddress(const snd_seq_addr_t& a, const snd_seq_addr_t& b) {
  return a.client == b.client && a.port == b.port;
}

}  // namespace

AlsaEndpointTable::AlsaEndpointTable(std::function<MIDIObjectRef()> newRef)
    : newRef_(std::move(newRef)) {}

int32_t AlsaEndpointTable::uniqueIDFor(const std::string& name) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 16777619u;
  }
  return static_cast<int32_t>(hash);
}

bool AlsaEndpointTable::isSourcePort(const AlsaPortInfo& port) {
  return port.client != SND_SEQ_CLIENT_SYSTEM && (port.capability & kSourceCaps) == kSourceCaps &&
         !(port.capability & SND_SEQ_PORT_CAP_NO_EXPORT);
}

bool AlsaEndpointTable::isDestinationPort(const AlsaPortInfo& port) {
  return port.client != SND_SEQ_CLIENT_SYSTEM &&
         (port.capability & kDestinationCaps) == kDestinationCaps &&
         !(port.capability & SND_SEQ_PORT_CAP_NO_EXPORT);
}

AlsaEndpoint& AlsaEndpointTable::endpointFor(bool isSource, const std::string& name) {
  const auto key = std::make_pair(isSource, name);
  auto found = refsByName_.find(key);
  if (found != refsByName_.end()) return endpoints_.at(found->second);
  AlsaEndpoint endpoint;
  endpoint.ref = newRef_();
  endpoint.isSource = isSource;
  endpoint.name = name;
  endpoint.uniqueID = uniqueIDFor(name);
  refsByName_[key] = endpoint.ref;
  return endpoints_[endpoint.ref] = endpoint;
}

MIDIEndpointRef AlsaEndpointTable::addOwn(bool isSource, const std::string& name,
                                          const snd_seq_addr_t& address) {
  AlsaEndpoint& endpoint = endpointFor(isSource, name);
  endpoint.address = address;
  return endpoint.ref;
}

const AlsaEndpoint* AlsaEndpointTable::find(MIDIEndpointRef ref) const {
  auto found = endpoints_.find(ref);
  return found == endpoints_.end() ? nullptr : &found->second;
}

const AlsaEndpoint* AlsaEndpointTable::findAt(bool isSource, const snd_seq_addr_t& address) const {
  for (const auto& [ref, endpoint] : endpoints_) {
    if (endpoint.isSource == isSource && endpoint.present && sameAddress(endpoint.address, address))
      return &endpoint;
  }
  return nullptr;
}

void AlsaEndpointTable::refresh(const std::vector<AlsaPortInfo>& ports, int ourClient,
                                const std::map<int, std::string>& ownNames) {
  for (auto& [ref, endpoint] : endpoints_) endpoint.present = false;
  sources_.clear();
  destinations_.clear();
  for (const AlsaPortInfo& port : ports) {
    std::string name = port.clientName + ":" + port.portName;
    if (port.client == ourClient) {
      auto own = ownNames.find(port.port);
      if (own == ownNames.end()) continue;
      name = own->second;
    }
    if (isSourcePort(port)) list(true, port, name);
    if (isDestinationPort(port)) list(false, port, name);
  }
}

void AlsaEndpointTable::list(bool isSource, const AlsaPortInfo& port, const std::string& name) {
  // Two clients may carry the same name; the later port is told apart by
  // its address.
  std::string unique = name;
  auto taken = refsByName_.find(std::make_pair(isSource, name));
  if (taken != refsByName_.end() && endpoints_.at(taken->second).present) {
    unique += " [" + std::to_string(port.client) + ":" + std::to_string(port.port) + "]";
  }
  AlsaEndpoint& endpoint = endpointFor(isSource, unique);
  endpoint.address.client = static_cast<unsigned char>(port.client);
  endpoint.address.port = static_cast<unsigned char>(port.port);
  endpoint.physical = (port.type & SND_SEQ_PORT_TYPE_HARDWARE) != 0;
  endpoint.present = true;
  (isSource ? sources_ : destinations_).push_back(endpoint.ref);
}

std::string AlsaEndpointTable::signature() const {
  std::string result;
  for (const auto* listed : {&sources_, &destinations_}) {
    for (MIDIEndpointRef ref : *listed) {
      const AlsaEndpoint& endpoint = endpoints_.at(ref);
      result += std::to_string(ref) + "@" + std::to_string(endpoint.address.client) + ":" +
                std::to_string(endpoint.address.port) + endpoint.name + '\n';
    }
    result += '|';
  }
  return result;
}

}  // namespace wex
