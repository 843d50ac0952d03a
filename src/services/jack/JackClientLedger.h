#pragma once

#include <jack/jack.h>
#include <pthread.h>

#include <string>

namespace wex {

// Opens and closes this process's JACK clients, one at a time, and raises
// and lowers threads with what JACK offers for it.
//
// PipeWire's JACK library keeps the thread functions of the client opened
// last in the process (jack_acquire_real_time_scheduling goes through them)
// and leaves them dangling once that client is closed: calling them then
// jumps through freed memory. So they are called only while the client
// opened last is still open; otherwise a thread is raised with the plain
// POSIX call, as jackd's own library does. Clients opened past this ledger
// are not seen: every JACK client of the process should be opened here.
class JackClientLedger {
 public:
  // jack_client_open, never starting a server; null when none answers. An
  // open that finds no server leaves no trace in /dev/shm.
  static jack_client_t* open(const std::string& name);
  static void close(jack_client_t* client);

  // Whether the JACK library's thread functions may be called now.
  static bool threadFunctionsUsable();
  // Gives `thread` realtime scheduling at `priority`; false when refused.
  static bool acquireRealtime(pthread_t thread, int priority);
  // Gives `thread` ordinary scheduling again (which needs no grant).
  static bool dropRealtime(pthread_t thread);
};

}  // namespace wex
