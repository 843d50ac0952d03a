#pragma once

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "services/jack/JackRingBuffer.h"
#include "services/jack/JackWakeSignal.h"

namespace wex {

// What the JACK process callback works on: our JACK ports with their rings.
// The callback only moves bytes between port buffers and rings; it takes no
// lock, allocates nothing and logs nothing. The table it reads is replaced
// as a whole (publish), and the old one is freed only once no cycle can still
// be using it.
class JackProcessTable {
 public:
  struct Input {
    jack_port_t* port;
    JackRingBuffer* ring;
    std::atomic<uint64_t>* dropped;
  };
  struct Output {
    jack_port_t* port;
    JackRingBuffer* ring;
    std::atomic<uint64_t>* dropped;
    const std::atomic<uint64_t>* heldUntilCycle;
  };
  struct Table {
    std::vector<Input> inputs;
    std::vector<Output> outputs;
  };

  // `inputArrived` is notified in every cycle that put events into a ring.
  explicit JackProcessTable(JackWakeSignal& inputArrived);
  ~JackProcessTable();
  JackProcessTable(const JackProcessTable&) = delete;
  JackProcessTable& operator=(const JackProcessTable&) = delete;

  // The JACK process callback; `arg` is the table.
  static int processCallback(jack_nframes_t nframes, void* arg);

  // Makes `table` the current one and returns once the previous one is no
  // longer in use (it is then freed).
  void publish(std::unique_ptr<Table> table);
  // Frees the current table at once; only when no process cycle can run (the
  // JACK client is closed).
  void clearAfterClose();

  // Number of completed process cycles.
  uint64_t cycles() const { return cycles_.load(); }
  // True while a cycle is running.
  bool inCycle() const { return inCycle_.load(); }

 private:
  int process(jack_nframes_t nframes);
  void moveInput(const Input& input, jack_nframes_t nframes, bool& arrived);
  void moveOutput(const Output& output, jack_nframes_t nframes, uint64_t completedCycles);
  void waitUntilUnused();

  JackWakeSignal& inputArrived_;
  std::atomic<Table*> current_{nullptr};
  std::atomic<bool> inCycle_{false};
  std::atomic<uint64_t> cycles_{0};
};

}  // namespace wex
