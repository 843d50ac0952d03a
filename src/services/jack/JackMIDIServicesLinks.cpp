#include <cerrno>
#include <map>

#include "services/jack/JackMIDIServices.h"

namespace wex {

namespace {

// How long a new connection's output waits at most for the port to show as
// connected in the process callback.
constexpr jack_time_t kConnectionWaitMicroseconds = 200'000;

}  // namespace

void JackMIDIServices::link(JackInputStream& stream) {
  const JackEndpoint* source = endpoints_.find(stream.peer);
  if (!jack_ || !stream.port || !source || !source->present || stream.linked) return;
  const int result = jack_connect(jack_, source->jackName.c_str(), jack_port_name(stream.port));
  stream.linked = result == 0 || result == EEXIST;
  if (!stream.linked) linksPending_ = true;
}

void JackMIDIServices::link(JackOutputStream& stream) {
  const JackEndpoint* destination = endpoints_.find(stream.peer);
  if (!jack_ || !stream.port || !destination || !destination->present || stream.linked) return;
  const int result =
      jack_connect(jack_, jack_port_name(stream.port), destination->jackName.c_str());
  stream.linked = result == 0 || result == EEXIST;
  if (!stream.linked) linksPending_ = true;
  // The server takes a new connection into the graph when a cycle begins; the
  // cycle running now may still have the old graph, and what it took from the
  // ring would go nowhere. So the ring waits for that cycle to end, and for
  // the port to show as connected in the callback, and nobody waits here:
  // senders (and the reader, behind our lock) carry on at once.
  if (result == 0) {
    stream.awaitConnectedUntil.store(jack_get_time() + kConnectionWaitMicroseconds);
    stream.heldUntilCycle.store(processTable_.cycles() + 1);
  }
}

void JackMIDIServices::refreshEndpoints() {
  if (jack_) refreshEndpoints(JackEndpointTable::listServerPorts(jack_));
}

// Lists the endpoints again, then links every private stream whose peer is
// present and not linked (again: the server drops a connection with the port).
void JackMIDIServices::refreshEndpoints(const std::vector<JackEndpointTable::ServerPort>& ports) {
  if (!jack_) return;
  ++endpointRefreshes_;
  std::vector<std::string> privatePorts;
  std::map<std::string, std::string> ownNames;
  bool unmarked = false;
  auto note = [&](const auto& stream) {
    if (!stream->port) return;
    const std::string jackName = jack_port_name(stream->port);
    if (stream->isPrivate) {
      privatePorts.push_back(jackName);
      if (!markPrivate(stream->port)) unmarked = true;
    } else {
      ownNames[jackName] = stream->displayName;
      endpoints_.rename(stream->endpoint, jackName);
    }
  };
  for (const auto& stream : inputs_) note(stream);
  for (const auto& stream : outputs_) note(stream);
  endpoints_.refresh(ports, privatePorts, ownNames);
  // A mark the server did not take yet is set again at the next try.
  linksPending_ = unmarked;

  auto relink = [&](auto& stream) {
    if (!stream->isPrivate) return;
    const JackEndpoint* peer = endpoints_.find(stream->peer);
    if (!peer || !peer->present) {
      stream->linked = false;
      return;
    }
    // A peer that went away and came back between two listings is present
    // both times, but the server dropped the connection with its old port.
    if (stream->linked && stream->port &&
        !jack_port_connected_to(stream->port, peer->jackName.c_str())) {
      stream->linked = false;
    }
    link(*stream);
  };
  for (auto& stream : inputs_) relink(stream);
  for (auto& stream : outputs_) relink(stream);
}

// Other programs (a session manager, another wexmidi) know a private port
// by its mark and leave it alone. The mark can be missing: PipeWire's
// metadata store, which a session manager makes, may come back after the
// daemon did, and refuses the mark until then.
bool JackMIDIServices::markPrivate(jack_port_t* port) {
  const char* name = jack_port_name(port);
  if (JackEndpointTable::isPrivatePort(port, name)) return true;
  jack_set_property(jack_, jack_port_uuid(port), JackEndpointTable::kPrivatePortKey, name,
                    "text/plain");
  return JackEndpointTable::isPrivatePort(port, name);
}

std::string JackMIDIServices::jackPortName(MIDIEndpointRef endpoint) {
  std::lock_guard lock(mutex_);
  const JackEndpoint* found = endpoints_.find(endpoint);
  return found ? found->jackName : std::string();
}

}  // namespace wex
