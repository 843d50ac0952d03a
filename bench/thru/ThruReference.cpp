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
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

struct Thru {
  jack_port_t* in = nullptr;
  jack_port_t* out = nullptr;
};

volatile std::sig_atomic_t stopRequested = 0;
std::atomic<bool> serverGone{false};

void onSignal(int) {
  stopRequested = 1;
}

void onShutdown(void*) {
  serverGone = true;
}

int process(jack_nframes_t nframes, void* arg) {
  const Thru& thru = *static_cast<Thru*>(arg);
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
  jack_status_t status{};
  jack_client_t* client = jack_client_open(name, JackNoStartServer, &status);
  if (!client) {
    std::fprintf(stderr, "wexmidi_thru_reference: no JACK server is running\n");
    return 1;
  }
  Thru thru;
  thru.in = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  thru.out = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (!thru.in || !thru.out) {
    std::fprintf(stderr, "wexmidi_thru_reference: cannot register ports\n");
    jack_client_close(client);
    return 1;
  }
  jack_set_process_callback(client, process, &thru);
  jack_on_shutdown(client, onShutdown, nullptr);
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  if (jack_activate(client) != 0) {
    std::fprintf(stderr, "wexmidi_thru_reference: cannot activate the client\n");
    jack_client_close(client);
    return 1;
  }
  while (!stopRequested && !serverGone) usleep(50000);
  if (!serverGone) jack_deactivate(client);
  jack_client_close(client);
  return 0;
}
