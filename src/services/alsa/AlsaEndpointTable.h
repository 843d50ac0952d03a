#pragma once

#include <alsa/asoundlib.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "services/MIDITypes.h"
#include "services/alsa/AlsaSequencer.h"

namespace wex {

// One MIDI endpoint as the ALSA services list it: a port of another client
// (readable ports are sources, writable ones destinations) or one of our own
// virtual endpoints.
struct AlsaEndpoint {
  MIDIEndpointRef ref = 0;
  bool isSource = false;
  std::string name;  // "client:port" by their names, as aconnect shows them
  snd_seq_addr_t address{};
  int32_t uniqueID = 0;
  bool physical = false;
  bool present = false;
};

// The endpoints of the sequencer. A reference, once given to a name, stays
// with it for the life of the services, so a device that is unplugged and
// plugged in again (and gets another client number) is the same endpoint.
class AlsaEndpointTable {
 public:
  explicit AlsaEndpointTable(std::function<MIDIObjectRef()> newRef);

  // Lists the ports again. Ports of `ourClient` are listed only when
  // `ownNames` names them (our virtual endpoints, by port number).
  void refresh(const std::vector<AlsaPortInfo>& ports, int ourClient,
               const std::map<int, std::string>& ownNames);
  // The reference for one of our virtual endpoints, before a listing shows it.
  MIDIEndpointRef addOwn(bool isSource, const std::string& name, const snd_seq_addr_t& address);

  const std::vector<MIDIEndpointRef>& sources() const { return sources_; }
  const std::vector<MIDIEndpointRef>& destinations() const { return destinations_; }
  const AlsaEndpoint* find(MIDIEndpointRef ref) const;
  // The present endpoint at an address, null when none.
  const AlsaEndpoint* findAt(bool isSource, const snd_seq_addr_t& address) const;

  // Changes whenever what the listing shows changes (order, names, offline).
  std::string signature() const;

  // Stable across runs: a hash of the name.
  static int32_t uniqueIDFor(const std::string& name);
  // Whether a port of another client is listed as a source, a destination.
  static bool isSourcePort(const AlsaPortInfo& port);
  static bool isDestinationPort(const AlsaPortInfo& port);

 private:
  AlsaEndpoint& endpointFor(bool isSource, const std::string& name);
  void list(bool isSource, const AlsaPortInfo& port, const std::string& name);

  std::function<MIDIObjectRef()> newRef_;
  std::map<MIDIEndpointRef, AlsaEndpoint> endpoints_;
  std::map<std::pair<bool, std::string>, MIDIEndpointRef> refsByName_;
  std::vector<MIDIEndpointRef> sources_;
  std::vector<MIDIEndpointRef> destinations_;
};

}  // namespace wex
