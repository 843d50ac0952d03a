#include "services/jack/JackProcessTable.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace wex {

static_assert(JackProcessTable::outputCost(JackProcessTable::kMaxEventLength) == 32 * 1024);

JackProcessTable::JackProcessTable(JackWakeSignal& inputArrived) : inputArrived_(inputArrived) {}

JackProcessTable::~JackProcessTable() {
  clearAfterClose();
}

int JackProcessTable::processCallback(jack_nframes_t nframes, void* arg) {
  return static_cast<JackProcessTable*>(arg)->process(nframes);
}

void JackProcessTable::setClient(jack_client_t* client) {
  client_.store(client);
  if (!client) return;
  if (const jack_nframes_t rate = jack_get_sample_rate(client); rate != 0) {
    period_.store(jack_time_t{jack_get_buffer_size(client)} * 1'000'000 / rate,
                  std::memory_order_relaxed);
  }
  // Room for the buffer's header and the event's own: less than either
  // server leaves (jackd2 48 bytes of 32 KiB, PipeWire 32).
  constexpr size_t kBookkeeping = 64;
  const size_t buffer = jack_port_type_get_buffer_size(client, JACK_DEFAULT_MIDI_TYPE);
  guessedMaxEventSize_.store(buffer > kBookkeeping ? buffer - kBookkeeping : 0,
                             std::memory_order_relaxed);
}

size_t JackProcessTable::maxEventLength() const {
  size_t size = foundMaxEventSize_.load(std::memory_order_relaxed);
  if (size == 0) size = guessedMaxEventSize_.load(std::memory_order_relaxed);
  return std::min(size, kMaxEventLength);
}

int JackProcessTable::process(jack_nframes_t nframes) {
  // Sequentially consistent on purpose: publish() must see either that this
  // cycle is running or that it will load the new table.
  inCycle_.store(true);
  // Placed every cycle, so that each is checked against the one before.
  const CycleTimes times = cycleTimes(nframes);
  const Table* table = current_.load();
  if (table) {
    bool arrived = false;
    for (const Input& input : table->inputs) moveInput(input, nframes, times, arrived);
    const uint64_t completed = cycles_.load();
    for (const Output& output : table->outputs) moveOutput(output, nframes, completed);
    if (arrived) inputArrived_.notify();
  }
  cycles_.fetch_add(1);
  inCycle_.store(false);
  cycleEnded_.post();
  return 0;
}

JackProcessTable::CycleTimes JackProcessTable::cycleTimes(jack_nframes_t nframes) {
  const jack_time_t now = jack_get_time();
  jack_client_t* client = client_.load(std::memory_order_relaxed);
  std::optional<CycleTimes> estimate;
  jack_time_t period = 0;
  if (client) {
    jack_nframes_t firstFrame = 0;
    CycleTimes times;
    float periodUsecs = 0;
    if (jack_get_cycle_times(client, &firstFrame, &times.first, &times.next, &periodUsecs) == 0)
      estimate = times;
    if (const jack_nframes_t rate = jack_get_sample_rate(client); rate != 0)
      period = jack_time_t{nframes} * 1'000'000 / rate;
  }
  const CycleTimes times = cycleClock_.place(estimate, now, period);
  if (period != 0 && period != period_.load(std::memory_order_relaxed))
    period_.store(period, std::memory_order_relaxed);
  const jack_nframes_t firstFrame = client ? jack_last_frame_time(client) : framesCounted_;
  framesCounted_ += nframes;
  cycleHistory_.add(times, firstFrame, nframes);
  return times;
}

void JackProcessTable::moveInput(const Input& input, jack_nframes_t nframes, CycleTimes times,
                                 bool& arrived) {
  void* buffer = jack_port_get_buffer(input.port, nframes);
  if (!buffer) return;
  // Events the server could not put in this buffer count as dropped too.
  input.dropped->fetch_add(jack_midi_get_lost_event_count(buffer), std::memory_order_relaxed);
  const uint32_t count = jack_midi_get_event_count(buffer);
  for (uint32_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0) continue;
    // Placed within the cycle by its frame, as JACK maps frames to time.
    const jack_time_t arrival = times.first + (times.next - times.first) * event.time /
                                                  std::max<jack_nframes_t>(nframes, 1);
    Byte head[kArrivalTimeSize];
    std::memcpy(head, &arrival, sizeof head);
    if (input.ring->writeFrame(head, sizeof head, event.buffer,
                               static_cast<uint32_t>(event.size))) {
      arrived = true;
    } else {
      input.dropped->fetch_add(1, std::memory_order_relaxed);
    }
  }
}

void JackProcessTable::moveOutput(const Output& output, jack_nframes_t nframes,
                                  uint64_t completedCycles) {
  void* buffer = jack_port_get_buffer(output.port, nframes);
  if (!buffer) return;
  jack_midi_clear_buffer(buffer);
  const size_t room = jack_midi_max_event_size(buffer);
  if (room != foundMaxEventSize_.load(std::memory_order_relaxed))
    foundMaxEventSize_.store(room, std::memory_order_relaxed);
  if (output.ring->nextFrameLength() == 0) return;
  // Read after the ring: a hold set before the bytes were written is seen.
  if (completedCycles < output.heldUntilCycle->load() || !connectionLive(output)) return;
  // Well under what the buffer takes: a server may drop a whole cycle's
  // buffer it cannot convert (PipeWire does), so what does not fit in this
  // cycle's budget waits for the next.
  const size_t budget = std::min<size_t>(kOutputCostPerCycle, room);
  size_t spent = 0;
  bool wroteAny = false;
  jack_nframes_t lastFrame = 0;
  for (uint32_t length = output.ring->nextFrameLength(); length != 0;
       length = output.ring->nextFrameLength()) {
    if (length <= kMomentSize) {
      output.ring->skipFrame();
      continue;
    }
    const uint32_t size = length - kMomentSize;
    jack_time_t moment = 0;
    output.ring->peekFrame(reinterpret_cast<Byte*>(&moment), kMomentSize);
    const std::optional<jack_nframes_t> frame = cycleHistory_.outputFrame(moment);
    // Due in a later cycle: it waits, and what follows waits behind it.
    if (!frame) break;
    if (jack_midi_max_event_size(buffer) < size) {
      // Waits for the next cycle, unless it could never fit in any cycle.
      if (wroteAny) break;
      output.ring->skipFrame();
      output.dropped->fetch_add(1, std::memory_order_relaxed);
      continue;
    }
    if (wroteAny && spent + outputCost(size) > budget) break;
    // Never before the event written before it.
    lastFrame = std::max(lastFrame, *frame);
    jack_midi_data_t* place = jack_midi_event_reserve(buffer, lastFrame, size);
    if (!place) break;
    output.ring->readFrame(reinterpret_cast<Byte*>(&moment), kMomentSize, place);
    spent += outputCost(size);
    wroteAny = true;
  }
  output.dropped->fetch_add(jack_midi_get_lost_event_count(buffer), std::memory_order_relaxed);
}

// Whether a connection just made carries what goes into the port now: on
// PipeWire, events written before the port shows as connected here are lost.
// The wait is bounded, so that a server that never shows it delays but loses
// nothing it would have delivered anyway.
bool JackProcessTable::connectionLive(const Output& output) {
  jack_time_t until = output.awaitConnectedUntil->load();
  if (until == 0) return true;
  if (jack_port_connected(output.port) <= 0) {
    if (jack_get_time() < until) return false;
    if (output.awaitConnectedUntil->compare_exchange_strong(until, 0)) {
      output.unconfirmedConnections->fetch_add(1, std::memory_order_relaxed);
    }
    return true;
  }
  output.awaitConnectedUntil->compare_exchange_strong(until, 0);
  return true;
}

JackProcessTable::Replaced JackProcessTable::publish(std::unique_ptr<Table> table) {
  std::unique_ptr<Table> previous(current_.exchange(table.release()));
  // A cycle running now may hold the previous table; one that starts later
  // loads the new one.
  const Replaced replaced{cycles_.load(), inCycle_.load()};
  std::lock_guard lock(retiredMutex_);
  if (previous) retired_.push_back({std::move(previous), replaced});
  freeUnused();
  return replaced;
}

void JackProcessTable::waitUntilUnused(Replaced replaced) {
  constexpr auto kSlice = std::chrono::milliseconds(100);
  while (!unused(replaced)) {
    const uint32_t seen = cycleEnded_.count();
    if (unused(replaced)) break;
    cycleEnded_.waitPast(seen, JackProgressSignal::Clock::now() + kSlice);
  }
  std::lock_guard lock(retiredMutex_);
  freeUnused();
}

void JackProcessTable::clearAfterClose() {
  delete current_.exchange(nullptr);
  std::lock_guard lock(retiredMutex_);
  retired_.clear();
}

bool JackProcessTable::unused(Replaced replaced) const {
  return !replaced.running || !inCycle_.load() || cycles_.load() != replaced.cycles;
}

void JackProcessTable::freeUnused() {
  std::erase_if(retired_, [&](const Retired& entry) { return unused(entry.replaced); });
}

}  // namespace wex
