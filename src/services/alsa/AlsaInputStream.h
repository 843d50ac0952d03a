#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <string>

#include "services/MIDITypes.h"

namespace wex {

// One sequencer port of ours that receives, and where its events go: a
// connection of an input port to a source (a private port, subscribed to the
// source's port) or one of our virtual destinations (a public port).
struct AlsaInputStream {
  // Cleared when the stream is taken away; no callback starts after that.
  std::atomic<bool> alive{true};

  // Where the events go. Fixed once the stream is made.
  MIDIClientRef client = 0;
  MIDIPortRef inputPort = 0;  // 0 for a virtual destination
  MIDIReadProc readProc = nullptr;
  void* refCon = nullptr;
  void* connRefCon = nullptr;
  int alsaPort = -1;

  // Guarded by the services' lock.
  MIDIEndpointRef peer = 0;      // the connected source
  MIDIEndpointRef endpoint = 0;  // the virtual destination
  bool linked = false;           // subscribed to the peer at `linkedTo`
  snd_seq_addr_t linkedTo{};
};

}  // namespace wex
