#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "services/CallbackGate.h"
#include "services/MIDIPacketListBuffer.h"
#include "services/jack/JackInputStream.h"
#include "services/jack/JackProgressSignal.h"
#include "services/jack/JackWakeSignal.h"

namespace wex {

// The thread that turns what the process callback put into the input rings
// into packet lists and calls the read callbacks. There is one reader, so the
// callbacks of one port never overlap; each JACK event becomes one packet, so
// a sysex that JACK delivers in several events reaches the parser as
// consecutive packets. Each packet's time stamp is its event's arrival time
// in nanoseconds of std::chrono::steady_clock.
class JackReader {
 public:
  using Streams = std::function<std::vector<std::shared_ptr<JackInputStream>>()>;

  // `streams` lists the live input streams; it is called on the reader thread.
  JackReader(JackWakeSignal& inputArrived, CallbackGate& gate, Streams streams);
  ~JackReader();
  JackReader(const JackReader&) = delete;
  JackReader& operator=(const JackReader&) = delete;

  void start();
  void stop();

  // True while the reader is emptying rings or calling callbacks.
  bool busy() const { return busy_.load(); }
  // Posted after every pass over the streams (at least every 100 ms).
  JackProgressSignal& passes() { return passes_; }

 private:
  void run();
  void drain(JackInputStream& stream);
  void deliver(JackInputStream& stream);
  // The arrival time of a frame of JACK's clock (microseconds) on ours.
  MIDITimeStamp arrivalTime(const Byte* frame) const;

  JackWakeSignal& inputArrived_;
  CallbackGate& gate_;
  Streams streams_;
  MIDIPacketListBuffer packets_;
  std::vector<Byte> frame_;
  // Our clock's nanoseconds less JACK's microseconds times 1000: taken once
  // per process, so that the times given stay in the order JACK gave them and
  // a sender can place what it passes on by them.
  const int64_t jackClockOffset_;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> busy_{false};
  JackProgressSignal passes_;
  std::thread thread_;
};

}  // namespace wex
