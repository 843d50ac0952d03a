// The floor for a JACK MIDI thru that, like wexmidi, hands each message to
// threads of its own: the process callback passes what comes in to a reader
// thread, the reader to an evaluation thread, and that thread back to the
// process callback, which writes it at the first frame of its next cycle.
// Nothing else is done to the messages. On a realtime server the two threads
// run realtime just below the process thread, the reader above the
// evaluation thread, and all three on one CPU, as wexmidi's do.
//
//   wexmidi_thru_handover [--any-cpu] [CLIENT-NAME]   (default "wexmidi_thru_handover")
//
// --any-cpu leaves the threads free to run on any CPU. Runs until SIGINT or
// SIGTERM. Never starts a server.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <jack/thread.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "ThruClient.h"

namespace {

constexpr size_t kRingBytes = 1 << 16;
constexpr size_t kLargestEvent = 4096;

// One hand-over: events as a 4-byte length and their bytes, one writer and
// one reader, and a semaphore posted when events were written.
struct Hop {
  jack_ringbuffer_t* ring = jack_ringbuffer_create(kRingBytes);
  sem_t written;
  Hop() { sem_init(&written, 0, 0); }
  ~Hop() {
    sem_destroy(&written);
    jack_ringbuffer_free(ring);
  }

  bool write(const jack_midi_data_t* bytes, uint32_t size) {
    if (jack_ringbuffer_write_space(ring) < sizeof size + size) return false;
    jack_ringbuffer_write(ring, reinterpret_cast<const char*>(&size), sizeof size);
    jack_ringbuffer_write(ring, reinterpret_cast<const char*>(bytes), size);
    return true;
  }
  // The next event's length, or 0 while no whole event is there.
  uint32_t nextSize() const {
    uint32_t size = 0;
    const size_t available = jack_ringbuffer_read_space(ring);
    if (available < sizeof size) return 0;
    jack_ringbuffer_peek(ring, reinterpret_cast<char*>(&size), sizeof size);
    return available < sizeof size + size ? 0 : size;
  }
  void read(jack_midi_data_t* bytes, uint32_t size) {
    jack_ringbuffer_read_advance(ring, sizeof size);
    jack_ringbuffer_read(ring, reinterpret_cast<char*>(bytes), size);
  }
};

struct Thru {
  ThruClient ports;
  Hop toReader;
  Hop toEvaluation;
  Hop toProcess;
  std::atomic<bool> stopping{false};
};

int process(jack_nframes_t nframes, void* arg) {
  Thru& thru = *static_cast<Thru*>(arg);
  void* output = jack_port_get_buffer(thru.ports.out, nframes);
  jack_midi_clear_buffer(output);
  jack_midi_data_t bytes[kLargestEvent];
  for (uint32_t size = thru.toProcess.nextSize(); size != 0; size = thru.toProcess.nextSize()) {
    thru.toProcess.read(bytes, size);
    jack_midi_event_write(output, 0, bytes, size);
  }
  void* input = jack_port_get_buffer(thru.ports.in, nframes);
  const uint32_t count = jack_midi_get_event_count(input);
  bool wrote = false;
  for (uint32_t i = 0; i < count; ++i) {
    jack_midi_event_t event;
    if (jack_midi_event_get(&event, input, i) == 0 && event.size > 0 &&
        event.size <= kLargestEvent) {
      wrote = thru.toReader.write(event.buffer, static_cast<uint32_t>(event.size)) || wrote;
    }
  }
  if (wrote) sem_post(&thru.toReader.written);
  return 0;
}

// Waits for events on `from` and passes them on to `to`.
void passOn(Thru& thru, Hop& from, Hop& to) {
  jack_midi_data_t bytes[kLargestEvent];
  while (true) {
    sem_wait(&from.written);
    if (thru.stopping) return;
    bool wrote = false;
    for (uint32_t size = from.nextSize(); size != 0; size = from.nextSize()) {
      from.read(bytes, size);
      wrote = to.write(bytes, size) || wrote;
    }
    if (wrote) sem_post(&to.written);
  }
}

void pin(pthread_t thread, int cpu) {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  pthread_setaffinity_np(thread, sizeof one, &one);
}

// As wexmidi places its threads on a realtime server.
void placeThreads(jack_client_t* client, std::thread& reader, std::thread& evaluation,
                  bool oneCpu) {
  const int top = jack_is_realtime(client) ? jack_client_real_time_priority(client) : -1;
  if (top < 1) return;
  if (jack_acquire_real_time_scheduling(reader.native_handle(), std::max(1, top - 1)) != 0 ||
      jack_acquire_real_time_scheduling(evaluation.native_handle(), std::max(1, top - 2)) != 0) {
    std::fprintf(stderr, "wexmidi_thru_handover: realtime scheduling refused\n");
    return;
  }
  if (!oneCpu) return;
  const int cpu = sched_getcpu();
  pin(jack_client_thread_id(client), cpu);
  pin(reader.native_handle(), cpu);
  pin(evaluation.native_handle(), cpu);
}

}  // namespace

int main(int argc, char** argv) {
  bool oneCpu = true;
  const char* name = "wexmidi_thru_handover";
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--any-cpu") {
      oneCpu = false;
    } else {
      name = argv[i];
    }
  }
  Thru thru;
  if (!thru.ports.open("wexmidi_thru_handover", name)) return 1;
  std::thread reader([&] { passOn(thru, thru.toReader, thru.toEvaluation); });
  std::thread evaluation([&] { passOn(thru, thru.toEvaluation, thru.toProcess); });
  jack_client_t* client = thru.ports.client;
  const int exitCode = thru.ports.run("wexmidi_thru_handover", process, &thru,
                                      [&] { placeThreads(client, reader, evaluation, oneCpu); });
  thru.stopping = true;
  sem_post(&thru.toReader.written);
  sem_post(&thru.toEvaluation.written);
  reader.join();
  evaluation.join();
  return exitCode;
}
