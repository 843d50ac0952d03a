#pragma once

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "services/jack/JackCycleClock.h"
#include "services/jack/JackProgressSignal.h"
#include "services/jack/JackRingBuffer.h"
#include "services/jack/JackWakeSignal.h"

namespace wex {

// What the JACK process callback works on: our JACK ports with their rings.
// The callback only moves bytes between port buffers and rings; it takes no
// lock, allocates nothing and logs nothing. The table it reads is replaced
// as a whole (publish), and the old one is freed only once no cycle can still
// be using it. Nobody sleeps on the cycle: waiters wait on cycleEnded(),
// which every cycle posts as it ends.
class JackProcessTable {
 public:
  // What one output port takes per cycle, counted as PipeWire stores events:
  // each costs its bytes rounded up to 8 plus 16 of its own. PipeWire drops
  // a whole cycle's buffer beyond 32 KiB so counted (1,364 three-byte
  // events); a quarter of that goes per cycle (a single larger event goes
  // alone), and the rest waits for the next cycle.
  static constexpr size_t kOutputCostPerCycle = 8192;
  static constexpr size_t outputCost(size_t length) { return (length + 7) / 8 * 8 + 16; }
  // The longest event PipeWire keeps in a cycle's buffer, alone.
  static constexpr size_t kMaxEventLength = 32 * 1024 - 16;

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
    std::atomic<jack_time_t>* awaitConnectedUntil;
    std::atomic<uint64_t>* unconfirmedConnections;
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
  // The client whose cycles the callback runs, for their times; set before
  // the callback is installed.
  void setClient(jack_client_t* client);

  // Each input frame starts with the event's arrival time, microseconds of
  // JACK's clock (jack_get_time), and goes on with the event's bytes.
  static constexpr uint32_t kArrivalTimeSize = sizeof(jack_time_t);
  // Each output frame starts with the moment its event came in or was sent,
  // microseconds of JACK's clock, and goes on with the event's bytes. The
  // callback writes it one period after the frame of that moment, at the
  // same place in its cycle (JackCycleHistory); one whose place has passed
  // goes at frame 0 of the next cycle that has room, and one due later
  // waits, with all that follows it: events go out in the order written,
  // never earlier in a cycle than an event before them.
  static constexpr uint32_t kMomentSize = sizeof(jack_time_t);

  // A period, microseconds of JACK's clock, as the server's buffer size and
  // rate make it; 0 before the client is set.
  jack_time_t period() const { return period_.load(std::memory_order_relaxed); }
  // The longest event an output port takes: as the callback last found it,
  // else as the server's MIDI buffer size makes it (less some room for the
  // buffer's own bookkeeping); never more than kMaxEventLength. 0 before the
  // client is set.
  size_t maxEventLength() const;

  // Where the cycles stood when a table was replaced.
  struct Replaced {
    uint64_t cycles = 0;
    bool running = false;
  };

  // Makes `table` the current one at once. The previous one is freed later,
  // once no cycle can be using it; a caller that is about to free what the
  // previous table points at (rings, ports) first passes the answer to
  // waitUntilUnused.
  Replaced publish(std::unique_ptr<Table> table);
  // Returns once no cycle that may have loaded a table replaced at `replaced`
  // is running. Call it holding no lock: it waits for the process cycle.
  void waitUntilUnused(Replaced replaced);
  // Frees every table at once; only when no process cycle can run (the JACK
  // client is closed).
  void clearAfterClose();

  // Cycles whose times JACK gave off the monotonic clock, whose events got
  // the callback's time instead.
  uint64_t estimatesReplaced() const { return cycleClock_.replacements(); }

  // Number of completed process cycles.
  uint64_t cycles() const { return cycles_.load(); }
  // Posted at the end of every cycle.
  JackProgressSignal& cycleEnded() { return cycleEnded_; }

 private:
  struct Retired {
    std::unique_ptr<Table> table;
    Replaced replaced;
  };

  using CycleTimes = JackCycleClock::Cycle;

  int process(jack_nframes_t nframes);
  CycleTimes cycleTimes(jack_nframes_t nframes);
  void moveInput(const Input& input, jack_nframes_t nframes, CycleTimes times, bool& arrived);
  void moveOutput(const Output& output, jack_nframes_t nframes, uint64_t completedCycles);
  static bool connectionLive(const Output& output);
  bool unused(Replaced replaced) const;
  void freeUnused();

  JackWakeSignal& inputArrived_;
  std::atomic<jack_client_t*> client_{nullptr};
  std::atomic<Table*> current_{nullptr};
  std::atomic<bool> inCycle_{false};
  std::atomic<uint64_t> cycles_{0};
  std::atomic<jack_time_t> period_{0};
  std::atomic<size_t> foundMaxEventSize_{0};  // 0: no output buffer seen yet
  std::atomic<size_t> guessedMaxEventSize_{0};
  // The process callback's own, but for its count of replacements.
  JackCycleClock cycleClock_;
  // The process callback's own.
  JackCycleHistory cycleHistory_;
  jack_nframes_t framesCounted_ = 0;  // where the server gives no frame count
  JackProgressSignal cycleEnded_;
  // Never touched by the process callback.
  std::mutex retiredMutex_;
  std::vector<Retired> retired_;
};

}  // namespace wex
