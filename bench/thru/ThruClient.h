#pragma once

#include <jack/jack.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>

// A thru program's JACK client with its MIDI ports "in" and "out", run until
// SIGINT or SIGTERM or until the server goes away. Never starts a server.
struct ThruClient {
  jack_client_t* client = nullptr;
  jack_port_t* in = nullptr;
  jack_port_t* out = nullptr;

  // Prints why and returns false when there is no server or the ports cannot
  // be made.
  bool open(const char* program, const char* name) {
    jack_status_t status{};
    client = jack_client_open(name, JackNoStartServer, &status);
    if (!client) {
      std::fprintf(stderr, "%s: no JACK server is running\n", program);
      return false;
    }
    in = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    out = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!in || !out) {
      std::fprintf(stderr, "%s: cannot register ports\n", program);
      jack_client_close(client);
      client = nullptr;
      return false;
    }
    return true;
  }

  // Activates the client with `process`, calls `activated`, and returns once
  // stopped; the client is closed then. Returns the program's exit code.
  int run(
      const char* program, JackProcessCallback process, void* arg,
      const std::function<void()>& activated = [] {}) {
    jack_set_process_callback(client, process, arg);
    jack_on_shutdown(
        client, [](void*) { serverGone = true; }, nullptr);
    std::signal(SIGINT, [](int) { stopRequested = 1; });
    std::signal(SIGTERM, [](int) { stopRequested = 1; });
    int exitCode = 0;
    if (jack_activate(client) != 0) {
      std::fprintf(stderr, "%s: cannot activate the client\n", program);
      exitCode = 1;
    } else {
      activated();
      while (!stopRequested && !serverGone) usleep(50000);
      if (!serverGone) jack_deactivate(client);
    }
    jack_client_close(client);
    client = nullptr;
    return exitCode;
  }

  static inline volatile std::sig_atomic_t stopRequested = 0;
  static inline std::atomic<bool> serverGone{false};
};
