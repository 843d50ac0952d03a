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

bool AlsaEndpointTable::isSourcePort(const AlsaPortInfo& port) {
  return port.client != SND_SEQ_CLIENT_SYSTEM && (port.capability & kSourceCaps) == kSourceCaps &&
         !(port.capability & SND_SEQ_PORT_CAP_NO_EXPORT);
}

bool AlsaEndpointTable::isDestinationPort(const AlsaPortInfo& port) {
  return port.client != SND_SEQ_CLIENT_SYSTEM &&
         (port.capability & kDestinationCaps) == kDestinationCaps &&
         !(port.capability & SND_SEQ_PORT_CAP_NO_EXPORT);
}

MIDIEndpointRef AlsaEndpointTable::addOwn(bool isSource, const std::string& name,
                                          const snd_seq_addr_t& address) {
  AlsaEndpoint& endpoint = endpointFor(isSource, name);
  endpoint.address = address;
  return endpoint.ref;
}

const AlsaEndpoint* AlsaEndpointTable::findAt(bool isSource, const snd_seq_addr_t& address) const {
  for (const auto& [ref, endpoint] : all()) {
    if (endpoint.isSource == isSource && endpoint.present && sameAddress(endpoint.address, address))
      return &endpoint;
  }
  return nullptr;
}

void AlsaEndpointTable::refresh(const std::vector<AlsaPortInfo>& ports, int ourClient,
                                const std::map<int, std::string>& ownNames) {
  beginListing();
  for (const AlsaPortInfo& port : ports) {
    std::string name = port.clientName + ":" + port.portName;
    if (port.client == ourClient) {
      auto own = ownNames.find(port.port);
      if (own == ownNames.end()) continue;
      name = own->second;
    }
    if (isSourcePort(port)) listPort(true, port, name);
    if (isDestinationPort(port)) listPort(false, port, name);
  }
}

void AlsaEndpointTable::listPort(bool isSource, const AlsaPortInfo& port, const std::string& name) {
  // Two clients may carry the same name; the later port is told apart by
  // its address.
  std::string unique = name;
  const AlsaEndpoint* taken = findByKey(isSource, name);
  if (taken && taken->present) {
    unique += " [" + std::to_string(port.client) + ":" + std::to_string(port.port) + "]";
  }
  AlsaEndpoint& endpoint = endpointFor(isSource, unique);
  endpoint.address.client = static_cast<unsigned char>(port.client);
  endpoint.address.port = static_cast<unsigned char>(port.port);
  endpoint.physical = (port.type & SND_SEQ_PORT_TYPE_HARDWARE) != 0;
  list(endpoint);
}

std::string AlsaEndpointTable::signature() const {
  return EndpointTable::signature([](const AlsaEndpoint& endpoint) {
    return "@" + std::to_string(endpoint.address.client) + ":" +
           std::to_string(endpoint.address.port) + endpoint.name;
  });
}

}  // namespace wex
