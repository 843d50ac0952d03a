#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "services/MIDITypes.h"

namespace wex {

// Reads a Standard MIDI File (format 0 or 1) from memory: channel messages
// with running status, sysex events (F0) and their continuations and escapes
// (F7), meta events with tempo changes; the events of all tracks merged in
// time order, their times in seconds. It never reads past the bytes given and
// never gives up: each damage is noted by name and place ("track 2 ends
// inside an event at byte 1180"), and whatever could be read is kept.
class MIDIFileReader {
 public:
  struct Event {
    double seconds = 0;
    std::vector<Byte> bytes;  // a channel message, a sysex piece, or escaped bytes
  };
  struct Result {
    std::vector<Event> events;
    std::vector<std::string> damages;  // none for a sound file
  };

  // The most events (tempo changes included) a file may hold: each takes
  // tens of bytes once read, against three in the file.
  static constexpr size_t kMaxEvents = 1'000'000;

  static Result read(const uint8_t* data, size_t size);

 private:
  struct Timed {
    uint64_t tick;
    std::vector<Byte> bytes;
  };
  struct Tempo {
    uint64_t tick;
    uint32_t microsecondsPerQuarter;
  };

  MIDIFileReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  void readAll();
  void readTrack(size_t track, size_t begin, size_t end);
  bool readNumber(size_t* position, size_t end, uint64_t* value, size_t track);
  void damage(const std::string& what) { result_.damages.push_back(what); }
  // Takes the events read, in time order.
  std::vector<Event> timedEvents();

  const uint8_t* data_;
  size_t size_;
  uint16_t format_ = 0;
  uint16_t division_ = 0;
  std::vector<Timed> timed_;
  std::vector<Tempo> tempos_;
  Result result_;
};

}  // namespace wex
