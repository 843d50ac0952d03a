#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "services/MIDITypes.h"

namespace wex {

// Plays a Standard MIDI File in real time from a virtual source of its own,
// "wexmidi Player", on the current MIDI services: each event is published at
// its time from the start, on a thread of the player.
class MIDIFilePlayer {
 public:
  static constexpr const char* kSourceName = "wexmidi Player";

  struct Event {
    double seconds = 0;
    std::vector<Byte> bytes;
  };

  // Reads the file's MIDI events (meta events left out) in time order; null,
  // with the reason, when the file cannot be read or is damaged. With
  // `lenient`, a damaged file plays what can be read, and each damage is
  // added to `warnings`.
  static std::unique_ptr<MIDIFilePlayer> load(const std::string& path, bool lenient,
                                              std::string* reason,
                                              std::vector<std::string>* warnings);
  ~MIDIFilePlayer();
  MIDIFilePlayer(const MIDIFilePlayer&) = delete;
  MIDIFilePlayer& operator=(const MIDIFilePlayer&) = delete;

  const std::vector<Event>& events() const { return events_; }
  // Seconds from the start to the last event.
  double duration() const { return events_.empty() ? 0 : events_.back().seconds; }

  // Makes the virtual source; false, with the failing call, when the MIDI
  // services refuse.
  bool publish(std::string* reason);
  // Starts playing from the first event (once).
  void start();
  // True once every event has been published (or the player was stopped).
  bool finished() const { return finished_.load(); }
  // Ends playing; waits for the player's thread.
  void stop();
  // The events the MIDI services refused, and the status of the first
  // refusal: read once stopped.
  uint64_t unplayedEvents() const { return unplayedEvents_.load(); }
  OSStatus firstFailureStatus() const { return firstFailureStatus_.load(); }

 private:
  MIDIFilePlayer() = default;
  void play();
  void publishEvent(const Event& event);

  std::vector<Event> events_;
  MIDIClientRef client_ = 0;
  MIDIEndpointRef source_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::atomic<bool> finished_{false};
  std::atomic<uint64_t> unplayedEvents_{0};
  std::atomic<OSStatus> firstFailureStatus_{0};
  std::thread thread_;
};

}  // namespace wex
