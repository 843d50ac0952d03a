#include "jack/PlainJackPeer.h"

#include <jack/midiport.h>

#include <cstring>

#include "services/jack/JackClientLedger.h"

namespace wex::test {

PlainJackPeer::PlainJackPeer(const std::string& name)
    : name_(name), records_(new Record[kMaxRecords]), bytes_(new Byte[kMaxBytes]) {
  jack_client_t* client = JackClientLedger::open(name);
  if (!client) return;
  in_ = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
  out_ = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
  if (!in_ || !out_ || jack_set_process_callback(client, &process, this) != 0) {
    JackClientLedger::close(client);
    return;
  }
  client_ = client;
  if (jack_activate(client_) != 0) {
    JackClientLedger::close(client_);
    client_ = nullptr;
  }
}

PlainJackPeer::~PlainJackPeer() {
  if (client_) JackClientLedger::close(client_);
}

int PlainJackPeer::process(jack_nframes_t frames, void* arg) {
  auto* self = static_cast<PlainJackPeer*>(arg);
  const jack_nframes_t start = jack_last_frame_time(self->client_);
  self->playClock(frames, start);
  self->record(frames, start);
  return 0;
}

void PlainJackPeer::playClock(jack_nframes_t frames, jack_nframes_t start) {
  void* buffer = jack_port_get_buffer(out_, frames);
  jack_midi_clear_buffer(buffer);
  const jack_nframes_t interval = clockInterval_.load(std::memory_order_relaxed);
  if (interval == 0) {
    clocking_ = false;
    return;
  }
  if (!clocking_) {
    clocking_ = true;
    nextClock_ = start;
  }
  // Frame counts wrap; their differences do not.
  while (nextClock_ - start < frames) {
    if (jack_midi_data_t* at = jack_midi_event_reserve(buffer, nextClock_ - start, 1)) {
      *at = 0xF8;  // clock
    }
    nextClock_ += interval;
  }
}

void PlainJackPeer::record(jack_nframes_t frames, jack_nframes_t start) {
  void* buffer = jack_port_get_buffer(in_, frames);
  const uint32_t count = jack_midi_get_event_count(buffer);
  size_t recorded = recorded_.load(std::memory_order_relaxed);
  for (uint32_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) != 0) continue;
    if (recorded == kMaxRecords || bytesUsed_ + event.size > kMaxBytes) break;
    std::memcpy(bytes_.get() + bytesUsed_, event.buffer, event.size);
    records_[recorded++] = {start + event.time, bytesUsed_, event.size};
    bytesUsed_ += event.size;
  }
  recorded_.store(recorded, std::memory_order_release);
}

std::vector<PlainJackPeer::Event> PlainJackPeer::events() const {
  const size_t recorded = recorded_.load(std::memory_order_acquire);
  std::vector<Event> events;
  for (size_t i = 0; i < recorded; ++i) {
    const Record& r = records_[i];
    events.push_back(
        {r.frame, std::vector<Byte>(bytes_.get() + r.offset, bytes_.get() + r.offset + r.size)});
  }
  return events;
}

std::vector<long> clockIntervals(const std::vector<PlainJackPeer::Event>& events) {
  std::vector<long> intervals;
  bool first = true;
  jack_nframes_t last = 0;
  for (const auto& event : events) {
    if (event.bytes != std::vector<Byte>{0xF8}) continue;
    if (!first) intervals.push_back(static_cast<long>(static_cast<int32_t>(event.frame - last)));
    last = event.frame;
    first = false;
  }
  return intervals;
}

}  // namespace wex::test
