#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "services/MIDITypes.h"
#include "services/jack/JackMessageSplitter.h"
#include "services/jack/JackRingBuffer.h"

namespace wex {

// One JACK output port of ours: the private port through which everything
// sent to one destination goes, or one of our virtual sources (a public
// port). Senders write whole messages into the ring under writeMutex; the
// process callback copies them into the port's buffer.
class JackOutputStream {
 public:
  static constexpr size_t kRingCapacity = 64 * 1024;

  JackOutputStream() : ring(kRingCapacity, true) {}

  JackRingBuffer ring;
  std::atomic<uint64_t> dropped{0};  // messages that could not go out
  uint64_t droppedReported = 0;      // read by the drop report only
  // The process callback leaves the ring alone until this many cycles have
  // completed: a connection just made carries nothing before then.
  std::atomic<uint64_t> heldUntilCycle{0};
  // After that, it also waits until the port shows as connected in the
  // process callback (PipeWire makes a link live some cycles after
  // jack_connect returns), but only until this JACK time; 0: no wait.
  std::atomic<jack_time_t> awaitConnectedUntil{0};
  std::atomic<uint64_t> unconfirmedConnections{0};  // waits that ran out
  uint64_t unconfirmedReported = 0;                 // read by the drop report only

  // Serialises the writers; guards the splitters. A sysex cut over several
  // sends of one port is put back together per port.
  std::mutex writeMutex;
  std::map<MIDIPortRef, JackMessageSplitter> splitters;

  // Guarded by the services' lock.
  bool isPrivate = true;
  MIDIEndpointRef peer = 0;      // the destination sent to
  std::string owner;             // of a private stream: its clients' port owner
  MIDIEndpointRef endpoint = 0;  // the virtual source
  MIDIClientRef client = 0;      // the virtual source's client
  std::string displayName;       // the virtual source's name
  std::string shortName;         // the JACK port's name within our client
  jack_port_t* port = nullptr;
  bool linked = false;
  jack_latency_range_t latencySet{0, 0};  // the capture latency we gave the port; 0: none
};

}  // namespace wex
