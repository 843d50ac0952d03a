#include "services/jack/JackClientLedger.h"

#include <jack/thread.h>
#include <sched.h>

#include <mutex>

namespace wex {

namespace {

struct Ledger {
  // Also keeps opening to one thread at a time: PipeWire's JACK library
  // looks up the user with getpwuid, which is not thread-safe.
  std::mutex mutex;
  jack_client_t* lastOpened = nullptr;  // guarded by mutex; null once closed
};

Ledger& ledger() {
  static Ledger instance;
  return instance;
}

}  // namespace

jack_client_t* JackClientLedger::open(const std::string& name) {
  Ledger& l = ledger();
  std::lock_guard lock(l.mutex);
  jack_client_t* client = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
  // A failed open may have made and destroyed a context of its own.
  l.lastOpened = client;
  return client;
}

void JackClientLedger::close(jack_client_t* client) {
  if (!client) return;
  Ledger& l = ledger();
  std::lock_guard lock(l.mutex);
  jack_client_close(client);
  if (l.lastOpened == client) l.lastOpened = nullptr;
}

bool JackClientLedger::threadFunctionsUsable() {
  Ledger& l = ledger();
  std::lock_guard lock(l.mutex);
  return l.lastOpened != nullptr;
}

bool JackClientLedger::acquireRealtime(pthread_t thread, int priority) {
  Ledger& l = ledger();
  std::lock_guard lock(l.mutex);
  if (l.lastOpened) return jack_acquire_real_time_scheduling(thread, priority) == 0;
  sched_param parameters{};
  parameters.sched_priority = priority;
  return pthread_setschedparam(thread, SCHED_FIFO, &parameters) == 0;
}

bool JackClientLedger::dropRealtime(pthread_t thread) {
  sched_param parameters{};
  return pthread_setschedparam(thread, SCHED_OTHER, &parameters) == 0;
}

}  // namespace wex
