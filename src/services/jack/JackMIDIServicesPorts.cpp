#include <jack/metadata.h>

#include <cstring>
#include <type_traits>

#include "services/jack/JackMIDIServices.h"

namespace wex {

namespace {

constexpr int kNameAttempts = 20;

}  // namespace

namespace {

// At most `room` bytes of `name`, cut before a UTF-8 character, never inside.
std::string fitted(const std::string& name, size_t room) {
  if (name.size() <= room) return name;
  size_t end = room;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

}  // namespace

// A port is registered under the name wanted, or, while that is taken, under
// "wanted 2", "wanted 3", ..., shortened to what the server takes. A virtual
// endpoint's port gets its name as pretty name too; a private port is marked
// private, so that no listing shows it.
jack_port_t* JackMIDIServices::registerJackPort(const std::string& wanted, bool isInput,
                                                bool isPrivate, const std::string& displayName,
                                                std::string* shortName) {
  const unsigned long flags = isInput ? JackPortIsInput : JackPortIsOutput;
  // The full name ("client:port") and its terminating zero must fit.
  const size_t clientName = std::strlen(jack_get_client_name(jack_));
  const size_t room = static_cast<size_t>(jack_port_name_size()) - clientName - 2;
  for (int attempt = 1; attempt <= kNameAttempts; ++attempt) {
    const std::string suffix = attempt > 1 ? " " + std::to_string(attempt) : "";
    const std::string candidate = fitted(wanted, room - suffix.size()) + suffix;
    jack_port_t* port =
        jack_port_register(jack_, candidate.c_str(), JACK_DEFAULT_MIDI_TYPE, flags, 0);
    if (!port) continue;
    *shortName = candidate;
    if (isPrivate) {
      markPrivate(port);
    } else {
      jack_set_property(jack_, jack_port_uuid(port), JACK_METADATA_PRETTY_NAME, displayName.c_str(),
                        "text/plain");
    }
    return port;
  }
  return nullptr;
}

// A private stream is given its name when it is made, and registers again
// under the name it got, so that a server restart keeps its port names.
template <typename Stream>
bool JackMIDIServices::registerPort(Stream& stream) {
  if (!jack_) return false;
  constexpr bool isInput = std::is_same_v<Stream, JackInputStream>;
  const std::string wanted = stream.isPrivate ? stream.shortName : stream.displayName;
  stream.port =
      registerJackPort(wanted, isInput, stream.isPrivate, stream.displayName, &stream.shortName);
  stream.linked = false;
  stream.latencySet = {0, 0};
  return stream.port != nullptr;
}

template bool JackMIDIServices::registerPort(JackInputStream&);
template bool JackMIDIServices::registerPort(JackOutputStream&);

void JackMIDIServices::unregister(jack_port_t*& port) {
  if (jack_ && port) {
    forgetProperties(jack_port_uuid(port));
    jack_port_unregister(jack_, port);
  }
  port = nullptr;
}

// The server keeps a port's metadata after the port is gone, and hands its
// identifier to a later port of any client, which would then show our name.
// PipeWire's JACK library takes jack_remove_properties without removing
// anything, so what is still there afterwards is made empty, which every
// listing takes for no name at all (jackd refuses empty values, but removes).
void JackMIDIServices::forgetProperties(jack_uuid_t uuid) {
  jack_remove_properties(jack_, uuid);
  for (const char* key : {JACK_METADATA_PRETTY_NAME, JackEndpointTable::kPrivatePortKey}) {
    char* value = nullptr;
    char* type = nullptr;
    if (jack_get_property(uuid, key, &value, &type) != 0) continue;
    const bool empty = !value || *value == '\0';
    jack_free(value);
    jack_free(type);
    if (!empty) jack_set_property(jack_, uuid, key, "", "text/plain");
  }
}

JackProcessTable::Replaced JackMIDIServices::publishProcessTable() {
  auto table = std::make_unique<JackProcessTable::Table>();
  for (auto& stream : inputs_) {
    if (stream->port) table->inputs.push_back({stream->port, &stream->ring, &stream->dropped});
  }
  for (auto& stream : outputs_) {
    if (stream->port) {
      table->outputs.push_back({stream->port, &stream->ring, &stream->dropped,
                                &stream->heldUntilCycle, &stream->awaitConnectedUntil,
                                &stream->unconfirmedConnections});
    }
  }
  return processTable_.publish(std::move(table));
}

void JackMIDIServices::retire(std::unique_lock<std::mutex>& lock, const InputStreams& inputs,
                              const OutputStreams& outputs) {
  if (inputs.empty() && outputs.empty()) return;
  const JackProcessTable::Replaced replaced = publishProcessTable();
  const uint64_t generation = jackGeneration_;
  // The cycle running now may still move bytes through these streams' ports
  // and rings: they stay until it is over. The lock is let go meanwhile, so
  // that nothing else waits on the cycle with us.
  lock.unlock();
  processTable_.waitUntilUnused(replaced);
  lock.lock();
  // Ports of a client that closed in between went with it.
  if (generation != jackGeneration_) return;
  for (auto& stream : inputs) unregister(stream->port);
  for (auto& stream : outputs) unregister(stream->port);
}

std::shared_ptr<JackOutputStream> JackMIDIServices::outputStreamTo(const std::string& owner,
                                                                   MIDIEndpointRef dest) {
  for (const auto& stream : outputs_) {
    if (stream->isPrivate && stream->peer == dest && stream->owner == owner) return stream;
  }
  auto stream = std::make_shared<JackOutputStream>();
  stream->peer = dest;
  stream->owner = owner;
  const JackEndpoint* destination = endpoints_.find(dest);
  stream->shortName = owner + " to " + (destination ? destination->jackName : std::string());
  registerPort(*stream);
  outputs_.push_back(stream);
  publishProcessTable();
  link(*stream);
  return stream;
}

JackMIDIServices::InputStreams JackMIDIServices::liveInputs() {
  std::lock_guard lock(mutex_);
  return inputs_;
}

}  // namespace wex
