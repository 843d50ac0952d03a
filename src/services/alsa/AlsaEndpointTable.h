#pragma once

#include <alsa/asoundlib.h>

#include <map>
#include <string>
#include <vector>

#include "services/EndpointTable.h"
#include "services/alsa/AlsaSequencer.h"

namespace wex {

// One MIDI endpoint as the ALSA services list it: a port of another client
// (readable ports are sources, writable ones destinations) or one of our own
// virtual endpoints. Its name, "client:port" by their names as aconnect shows
// them, is also the key it is known by.
struct AlsaEndpoint : ListedEndpoint {
  snd_seq_addr_t address{};
};

// The endpoints of the sequencer. A device that is unplugged and plugged in
// again (and gets another client number) keeps its name, so it is the same
// endpoint.
class AlsaEndpointTable : public EndpointTable<AlsaEndpoint> {
 public:
  using EndpointTable::EndpointTable;

  // Lists the ports again. Ports of `ourClient` are listed only when
  // `ownNames` names them (our virtual endpoints, by port number).
  void refresh(const std::vector<AlsaPortInfo>& ports, int ourClient,
               const std::map<int, std::string>& ownNames);
  // The reference for one of our virtual endpoints, before a listing shows it.
  MIDIEndpointRef addOwn(bool isSource, const std::string& name, const snd_seq_addr_t& address);

  // The present endpoint at an address, null when none.
  const AlsaEndpoint* findAt(bool isSource, const snd_seq_addr_t& address) const;

  // Changes whenever what the listing shows changes (order, names, offline).
  std::string signature() const;

  // Whether a port of another client is listed as a source, a destination.
  static bool isSourcePort(const AlsaPortInfo& port);
  static bool isDestinationPort(const AlsaPortInfo& port);

 private:
  void listPort(bool isSource, const AlsaPortInfo& port, const std::string& name);
};

}  // namespace wex
