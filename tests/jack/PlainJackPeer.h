#pragma once

#include <jack/jack.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "services/MIDITypes.h"

namespace wex::test {

// A JACK client written with plain libjack, as a musician's other programs
// are: an input port "in" that records every event with the frame it came at
// (the frame count since the server started), and an output port "out" that
// can play a MIDI clock at exact frames. Its process callback allocates
// nothing and takes no lock.
class PlainJackPeer {
 public:
  struct Event {
    jack_nframes_t frame;
    std::vector<Byte> bytes;
  };

  explicit PlainJackPeer(const std::string& name);
  ~PlainJackPeer();
  PlainJackPeer(const PlainJackPeer&) = delete;
  PlainJackPeer& operator=(const PlainJackPeer&) = delete;

  bool ok() const { return client_ != nullptr; }
  std::string inputName() const { return name_ + ":in"; }
  std::string outputName() const { return name_ + ":out"; }
  bool inputConnected() const { return jack_port_connected(in_) > 0; }
  bool outputConnected() const { return jack_port_connected(out_) > 0; }

  // From the next cycle on, a clock (F8) every `interval` frames, the first
  // at the cycle's first frame; 0 stops it.
  void playClock(jack_nframes_t interval) { clockInterval_.store(interval); }
  // What came in so far, in order.
  std::vector<Event> events() const;

 private:
  static int process(jack_nframes_t frames, void* arg);
  void playClock(jack_nframes_t frames, jack_nframes_t start);
  void record(jack_nframes_t frames, jack_nframes_t start);

  struct Record {
    jack_nframes_t frame;
    size_t offset;
    size_t size;
  };
  static constexpr size_t kMaxRecords = 16384;
  static constexpr size_t kMaxBytes = 1 << 20;

  std::string name_;
  jack_client_t* client_ = nullptr;
  jack_port_t* in_ = nullptr;
  jack_port_t* out_ = nullptr;
  std::atomic<jack_nframes_t> clockInterval_{0};
  // The process callback's own.
  bool clocking_ = false;
  jack_nframes_t nextClock_ = 0;
  size_t bytesUsed_ = 0;
  // Written by the process callback up to recorded_, which it publishes.
  std::unique_ptr<Record[]> records_;
  std::unique_ptr<Byte[]> bytes_;
  std::atomic<size_t> recorded_{0};
};

// The gaps between consecutive clock events (F8) in frames.
std::vector<long> clockIntervals(const std::vector<PlainJackPeer::Event>& events);

}  // namespace wex::test
