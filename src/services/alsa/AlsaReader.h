#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "services/CallbackGate.h"
#include "services/MIDIPacketListBuffer.h"
#include "services/alsa/AlsaEventCoder.h"
#include "services/alsa/AlsaInputStream.h"
#include "services/alsa/AlsaSequencer.h"

namespace wex {

// The thread that reads the sequencer's events: MIDI events become packet
// lists for the read callbacks (each event one packet, so a sysex that comes
// in pieces reaches the parser as consecutive packets, which it joins),
// System:Announce events tell the owner that the setup may have changed, and
// echo events mark how far delivery has come. There is one reader, so the
// callbacks of one port never overlap.
class AlsaReader {
 public:
  class Owner {
   public:
    virtual ~Owner() = default;
    // Our receiving streams by their port numbers.
    virtual std::map<int, std::shared_ptr<AlsaInputStream>> inputStreams() = 0;
    // A client or port came, went or changed.
    virtual void setupMayHaveChanged() = 0;
    // Called about once a second.
    virtual void reportDrops() = 0;
  };

  AlsaReader(AlsaSequencer& sequencer, CallbackGate& gate, Owner& owner);
  ~AlsaReader();
  AlsaReader(const AlsaReader&) = delete;
  AlsaReader& operator=(const AlsaReader&) = delete;

  void start();
  void stop();

  // Sends a marker through the sequencer to `port` of ours and waits until
  // the reader has handled everything before it. False on timeout.
  bool waitForEverythingBefore(int port, std::chrono::steady_clock::time_point deadline);

  // Times the sequencer said input overflowed (events were lost).
  uint64_t overruns() const { return overruns_.load(); }

 private:
  void run();
  void readAvailable();
  void handle(const snd_seq_event_t& event);
  void deliver();

  AlsaSequencer& sequencer_;
  CallbackGate& gate_;
  Owner& owner_;
  AlsaEventCoder coder_;
  MIDIPacketListBuffer packets_;
  std::vector<Byte> bytes_;
  std::map<int, std::shared_ptr<AlsaInputStream>> streams_;
  std::shared_ptr<AlsaInputStream> current_;
  bool setupDirty_ = false;
  std::atomic<uint64_t> overruns_{0};
  int wakeFd_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread thread_;

  std::mutex markerMutex_;
  std::condition_variable markerSeen_;
  uint32_t nextMarker_ = 0;     // guarded by markerMutex_
  uint32_t handledMarker_ = 0;  // guarded by markerMutex_
};

}  // namespace wex
