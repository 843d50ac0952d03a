#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "services/MIDITypes.h"
#include "services/jack/JackRingBuffer.h"

namespace wex {

// One JACK input port of ours and where its events go: a connection of an
// input port to a source (a private port, connected to the source's port) or
// one of our virtual destinations (a public port). The process callback
// fills the ring; the reader empties it into the read callback.
class JackInputStream {
 public:
  static constexpr size_t kRingCapacity = 64 * 1024;

  JackInputStream() : ring(kRingCapacity, true) {}

  JackRingBuffer ring;
  std::atomic<uint64_t> dropped{0};  // events that found the ring full
  uint64_t droppedReported = 0;      // read by the drop report only
  // Cleared when the stream is taken away; no callback starts after that.
  std::atomic<bool> alive{true};

  // Where the events go. Fixed once the stream is made.
  MIDIClientRef client = 0;
  MIDIPortRef inputPort = 0;  // 0 for a virtual destination
  MIDIReadProc readProc = nullptr;
  void* refCon = nullptr;
  void* connRefCon = nullptr;

  // Guarded by the services' lock.
  bool isPrivate = true;
  MIDIEndpointRef peer = 0;               // the connected source
  MIDIEndpointRef endpoint = 0;           // the virtual destination
  std::string displayName;                // the virtual destination's name
  std::string shortName;                  // the JACK port's name within our client
  jack_port_t* port = nullptr;            // null while the server is away
  bool linked = false;                    // connected to the peer's JACK port
  jack_latency_range_t latencySet{0, 0};  // the playback latency we gave the port; 0: none
};

}  // namespace wex
