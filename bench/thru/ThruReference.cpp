// The reference for the JACK latency harness: the least a JACK MIDI thru can
// do. One MIDI input port, one MIDI output port; the process callback copies
// every input event to the output at the same frame, so what comes in during
// a cycle goes out in that same cycle.
//
//   wexmidi_thru_reference [CLIENT-NAME]   (default "wexmidi_thru_reference")
//
// Runs until SIGINT or SIGTERM. Never starts a server.
#include <jack/jack.h>
#include <jack/midiport.h>

#include "ThruClient.h"

namespace {

int process(jack_nframes_t nframes, void* arg) {
  const ThruClient& thru = *static_cast<ThruClient*>(arg);
  void* input = jack_port_get_buffer(thru.in, nframes);
  void* output = jack_port_get_buffer(thru.out, nframes);
  jack_midi_clear_buffer(output);
  const uint32_t count = jack_midi_get_event_count(input);
  for (uint32_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, input, i) == 0) {
      jack_midi_event_write(output, event.time, event.buffer, event.size);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const char* name = argc > 1 ? argv[1] : "wexmidi_thru_reference";
  ThruClient thru;
  if (!thru.open("wexmidi_thru_reference", name)) return 1;
  return thru.run("wexmidi_thru_reference", process, &thru);
}
