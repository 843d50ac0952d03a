#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>

#include "services/jack/JackClientLedger.h"
#include "services/jack/JackMIDIServices.h"
#include "support/CpuPlacement.h"
#include "support/RealtimeThreads.h"
#include "support/SystemLog.h"

namespace wex {

namespace {

// libjack prints its complaints to standard error. While we only try to reach
// a server (at start, and every moment while it is away), "cannot connect"
// is the expected answer and is kept quiet.
thread_local bool tJackQuiet = false;

// libjack also complains, from the process thread, when it may not make that
// thread realtime; RealtimeThreads says so once, for the commands where
// timing matters, so those complaints are dropped.
bool aboutRealtimeRefusal(std::string_view message) {
  return message.starts_with("Cannot use real-time scheduling") ||
         message.find("RealTime error") != std::string_view::npos;
}

void printJackError(const char* message) {
  if (!tJackQuiet && !aboutRealtimeRefusal(message)) std::fprintf(stderr, "%s\n", message);
}

void dropJackInfo(const char*) {}

// JACK's own clients run their process threads at `top`; ours go just below,
// the reader above the evaluation thread it feeds, so that neither delays a
// cycle and both run before any thread of ordinary scheduling. A thread that
// runs realtime is kept on `cpu`, the one the process thread is kept on: a
// message read in one cycle passes through all three before the next.
bool scheduleThread(int top, int cpu, const CpuPlacement& everywhere, pthread_t thread,
                    RealtimeThreads::Role role, bool realtime) {
  if (!realtime) {
    everywhere.release(thread);
    return JackClientLedger::dropRealtime(thread);
  }
  const int below = role == RealtimeThreads::Role::reader ? 1 : 2;
  // A refusal is expected where the user may not have realtime scheduling:
  // RealtimeThreads logs it once, libjack need not complain every time.
  tJackQuiet = true;
  const bool raised = JackClientLedger::acquireRealtime(thread, std::max(1, top - below));
  tJackQuiet = false;
  if (!raised) return false;
  CpuPlacement::pin(thread, cpu);
  return true;
}

}  // namespace

jack_client_t* JackMIDIServices::openJackClient(const std::string& name) {
  static std::once_flag routed;
  std::call_once(routed, [] {
    jack_set_error_function(printJackError);
    jack_set_info_function(dropJackInfo);
  });
  tJackQuiet = true;
  jack_client_t* client = JackClientLedger::open(name);
  tJackQuiet = false;
  return client;
}

bool JackMIDIServices::serverRunning() {
  jack_client_t* client = openJackClient("wexmidi-probe");
  if (!client) return false;
  JackClientLedger::close(client);
  return true;
}

std::shared_ptr<JackMIDIServices> JackMIDIServices::open(const std::string& clientName,
                                                         std::string* error) {
  jack_client_t* jack = openJackClient(clientName);
  if (!jack) {
    if (error) *error = "no JACK server is running";
    return nullptr;
  }
  std::shared_ptr<JackMIDIServices> services(new JackMIDIServices(jack, clientName));
  if (services->serverAway()) {
    if (error) *error = "the JACK client could not be activated";
    return nullptr;
  }
  return services;
}

JackMIDIServices::JackMIDIServices(jack_client_t* jack, const std::string& clientName)
    : requestedName_(clientName),
      givenName_(jack_get_client_name(jack)),
      endpoints_([this] { return newRef(); }),
      processTable_(inputArrived_),
      reader_(inputArrived_, gate_, [this] { return liveInputs(); }),
      watcher_(*this) {
  {
    std::lock_guard lock(mutex_);
    jack_ = jack;
    ++jackGeneration_;
    if (installCallbacksAndActivate(jack)) {
      refreshEndpoints();
      notifiedSignature_ = endpoints_.signature();
      scheduleRealtimeThreads(jack);
    } else {
      JackClientLedger::close(jack);
      jack_ = nullptr;
    }
  }
  reader_.start();
  watcher_.start();
}

JackMIDIServices::~JackMIDIServices() {
  watcher_.stop();
  RealtimeThreads::withdraw(this);
  {
    std::lock_guard lock(mutex_);
    if (jack_) {
      jack_deactivate(jack_);
      for (auto& stream : inputs_) unregister(stream->port);
      for (auto& stream : outputs_) unregister(stream->port);
      JackClientLedger::close(jack_);
      jack_ = nullptr;
    }
    processTable_.clearAfterClose();
  }
  reader_.stop();
  reportDrops();  // what the last second dropped
}

// JACK's callbacks only mark, never lock.

void JackMIDIServices::onShutdown(jack_status_t, const char*, void* arg) {
  static_cast<JackMIDIServices*>(arg)->watcher_.markServerLost();
}

void JackMIDIServices::onPlainShutdown(void* arg) {
  static_cast<JackMIDIServices*>(arg)->watcher_.markServerLost();
}

void JackMIDIServices::onPortRegistration(jack_port_id_t, int, void* arg) {
  static_cast<JackMIDIServices*>(arg)->watcher_.markDirty();
}

void JackMIDIServices::onPortRename(jack_port_id_t, const char*, const char*, void* arg) {
  static_cast<JackMIDIServices*>(arg)->watcher_.markDirty();
}

void JackMIDIServices::onClientRegistration(const char*, int, void* arg) {
  static_cast<JackMIDIServices*>(arg)->watcher_.markDirty();
}

void JackMIDIServices::onPropertyChange(jack_uuid_t, const char*, jack_property_change_t,
                                        void* arg) {
  static_cast<JackMIDIServices*>(arg)->watcher_.markDirty();
}

void JackMIDIServices::onLatency(jack_latency_callback_mode_t, void* arg) {
  auto* self = static_cast<JackMIDIServices*>(arg);
  self->latenciesAsked_.store(true);
  self->watcher_.markDirty();
}

void JackMIDIServices::updateLatencies() {
  if (!jack_) return;
  const jack_nframes_t period = jack_get_buffer_size(jack_);
  bool changed = false;
  // The widest range of the ports on one side, a period more on the other.
  auto pass = [&](jack_latency_callback_mode_t mode, const auto& from, const auto& to) {
    jack_latency_range_t range{0, 0};
    bool first = true;
    for (const auto& stream : from) {
      if (!stream->port) continue;
      jack_latency_range_t own;
      jack_port_get_latency_range(stream->port, mode, &own);
      range.min = first ? own.min : std::min(range.min, own.min);
      range.max = std::max(range.max, own.max);
      first = false;
    }
    range.min += period;
    range.max += period;
    for (const auto& stream : to) {
      if (!stream->port) continue;
      if (stream->latencySet.min == range.min && stream->latencySet.max == range.max) continue;
      jack_port_set_latency_range(stream->port, mode, &range);
      stream->latencySet = range;
      changed = true;
    }
  };
  pass(JackCaptureLatency, inputs_, outputs_);
  pass(JackPlaybackLatency, outputs_, inputs_);
  // Once for each time the server asked: where our ports feed back into
  // themselves (a client that both sends to us and hears us), each pass
  // would add a period again, without end.
  if (changed && !ownRecompute_) {
    ownRecompute_ = true;
    jack_recompute_total_latencies(jack_);
  }
}

bool JackMIDIServices::installCallbacksAndActivate(jack_client_t* jack) {
  processTable_.setClient(jack);
  jack_set_process_callback(jack, &JackProcessTable::processCallback, &processTable_);
  jack_on_shutdown(jack, &onPlainShutdown, this);
  jack_on_info_shutdown(jack, &onShutdown, this);
  jack_set_port_registration_callback(jack, &onPortRegistration, this);
  jack_set_port_rename_callback(jack, &onPortRename, this);
  jack_set_client_registration_callback(jack, &onClientRegistration, this);
  jack_set_property_change_callback(jack, &onPropertyChange, this);
  jack_set_latency_callback(jack, &onLatency, this);
  return jack_activate(jack) == 0;
}

void JackMIDIServices::serverLost() {
  std::lock_guard lock(mutex_);
  if (!jack_) return;
  RealtimeThreads::withdraw(this);
  JackClientLedger::close(jack_);
  jack_ = nullptr;
  processTable_.clearAfterClose();
  for (auto& stream : inputs_) stream->port = nullptr, stream->linked = false;
  for (auto& stream : outputs_) stream->port = nullptr, stream->linked = false;
  endpoints_.setServerAway(true);
  serverLosses_.fetch_add(1);
  // Whoever waits for delivery learns it now, not at the deadline.
  processTable_.cycleEnded().post();
  SystemLog::write("\tJACK server went away: MIDI endpoints are offline until it is back");
}

bool JackMIDIServices::reconnect() {
  // Not an exact name: should another client have taken it, the server gives
  // one like it. PipeWire lets clients share a name, and refuses an exact one
  // that another bears.
  jack_client_t* jack = openJackClient(givenName_);
  if (!jack) return false;
  std::lock_guard lock(mutex_);
  givenName_ = jack_get_client_name(jack);
  jack_ = jack;
  ++jackGeneration_;
  for (auto& stream : outputs_) {
    // What was waiting when the server went away is stale now.
    std::lock_guard writing(stream->writeMutex);
    stream->ring.reset();
  }
  for (auto& stream : inputs_) registerPort(*stream);
  for (auto& stream : outputs_) registerPort(*stream);
  publishProcessTable();
  if (!installCallbacksAndActivate(jack)) {
    JackClientLedger::close(jack);
    jack_ = nullptr;
    processTable_.clearAfterClose();
    for (auto& stream : inputs_) stream->port = nullptr;
    for (auto& stream : outputs_) stream->port = nullptr;
    return false;
  }
  refreshEndpoints();
  scheduleRealtimeThreads(jack);
  SystemLog::write("\tJACK server is back: MIDI endpoints are online");
  return true;
}

// The server is asked for its ports without mutex_ held: that can take
// milliseconds, and the reader and every send take mutex_. Only this thread
// closes the JACK client, so it stays open meanwhile. A listing made under
// the lock in the meantime is newer than this one, which is then dropped.
void JackMIDIServices::setupMayHaveChanged() {
  jack_client_t* jack = nullptr;
  uint64_t refreshes = 0;
  {
    std::lock_guard lock(mutex_);
    jack = jack_;
    refreshes = endpointRefreshes_;
  }
  const auto ports = jack ? JackEndpointTable::listServerPorts(jack)
                          : std::vector<JackEndpointTable::ServerPort>{};
  std::vector<std::shared_ptr<ClientTable::Client>> listeners;
  {
    std::lock_guard lock(mutex_);
    if (jack_ && jack_ == jack && endpointRefreshes_ == refreshes) refreshEndpoints(ports);
    if (latenciesAsked_.exchange(false)) {
      // The pass our own recompute made is taken as it is.
      if (!std::exchange(ownRecompute_, false)) updateLatencies();
    }
    const std::string signature = endpoints_.signature();
    if (signature == notifiedSignature_) return;
    notifiedSignature_ = signature;
    listeners = clients_.listeners();
  }
  ClientTable::notifySetupChanged(listeners, gate_);
}

bool JackMIDIServices::linksPending() {
  std::lock_guard lock(mutex_);
  return jack_ && linksPending_;
}

std::string JackMIDIServices::jackClientName() {
  std::lock_guard lock(mutex_);
  return jack_ ? jack_get_client_name(jack_) : std::string();
}

bool JackMIDIServices::serverAway() {
  std::lock_guard lock(mutex_);
  return jack_ == nullptr;
}

void JackMIDIServices::scheduleRealtimeThreads(jack_client_t* jack) {
  const int top = jack_is_realtime(jack) ? jack_client_real_time_priority(jack) : -1;
  if (top < 1) {
    RealtimeThreads::withdraw(this);
    return;
  }
  const CpuPlacement everywhere;
  const int cpu = CpuPlacement::currentCpu();
  const pthread_t processThread = jack_client_thread_id(jack);
  if (processThread != pthread_t{}) CpuPlacement::pin(processThread, cpu);
  RealtimeThreads::install(
      this, [top, cpu, everywhere](pthread_t thread, RealtimeThreads::Role role, bool realtime) {
        return scheduleThread(top, cpu, everywhere, thread, role, realtime);
      });
}

}  // namespace wex
