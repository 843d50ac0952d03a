#include "midiio/MIDIFileReader.h"

#include <algorithm>

namespace wex {

namespace {

uint32_t bigEndian(const uint8_t* bytes, size_t count) {
  uint32_t value = 0;
  for (size_t i = 0; i < count; ++i) value = value << 8 | bytes[i];
  return value;
}

std::string at(size_t position) {
  return " at byte " + std::to_string(position);
}

std::string trackName(size_t track) {
  return "track " + std::to_string(track);
}

// Data bytes after a channel status byte.
size_t dataLength(Byte status) {
  const Byte kind = status & 0xF0;
  return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
}

}  // namespace

MIDIFileReader::Result MIDIFileReader::read(const uint8_t* data, size_t size) {
  MIDIFileReader reader(data, size);
  reader.readAll();
  reader.result_.events = reader.timedEvents();
  return std::move(reader.result_);
}

void MIDIFileReader::readAll() {
  if (size_ < 14 || std::string(reinterpret_cast<const char*>(data_), 4) != "MThd") {
    damage("not a Standard MIDI File: it does not begin with a header chunk (MThd)");
    return;
  }
  const uint32_t headerLength = bigEndian(data_ + 4, 4);
  if (headerLength < 6 || headerLength > size_ - 8) {
    damage("the header chunk's length " + std::to_string(headerLength) + " is wrong" + at(4));
    return;
  }
  format_ = static_cast<uint16_t>(bigEndian(data_ + 8, 2));
  const uint16_t announced = static_cast<uint16_t>(bigEndian(data_ + 10, 2));
  division_ = static_cast<uint16_t>(bigEndian(data_ + 12, 2));
  if (format_ > 1) {
    damage("format " + std::to_string(format_) +
           " (independent sequences) cannot be played: only formats 0 and 1 can");
    return;
  }
  if ((division_ & 0x8000) == 0 && division_ == 0) damage("the division is 0 ticks" + at(12));
  if ((division_ & 0x8000) != 0 && (division_ & 0xFF) == 0) {
    damage("the division is 0 ticks per frame" + at(12));
  }
  size_t position = 8 + headerLength;
  size_t tracks = 0;
  while (position < size_) {
    if (size_ - position < 8) {
      damage("the file ends inside a chunk header" + at(position));
      break;
    }
    const std::string id(reinterpret_cast<const char*>(data_ + position), 4);
    const uint32_t length = bigEndian(data_ + position + 4, 4);
    const size_t begin = position + 8;
    size_t end = begin + length;
    if (length > size_ - begin) {
      damage((id == "MTrk" ? trackName(tracks + 1) : "a chunk") + ": its length " +
             std::to_string(length) + " goes past the end of the file" + at(position + 4));
      end = size_;
    }
    if (id == "MTrk") {
      readTrack(++tracks, begin, end);
    }  // other chunks are skipped, as the format allows
    position = end;
  }
  if (tracks != announced) {
    damage("the header announces " + std::to_string(announced) + " tracks, the file holds " +
           std::to_string(tracks));
  }
  if (format_ == 0 && tracks > 1) damage("a format 0 file holds more than one track");
}

bool MIDIFileReader::readNumber(size_t* position, size_t end, uint64_t* value, size_t track) {
  *value = 0;
  const size_t start = *position;
  for (int count = 0; count < 4; ++count) {
    if (*position >= end) {
      damage(trackName(track) + " ends inside an event" + at(start));
      return false;
    }
    const Byte byte = data_[(*position)++];
    *value = *value << 7 | (byte & 0x7F);
    if ((byte & 0x80) == 0) return true;
  }
  damage(trackName(track) + ": a variable-length number longer than 4 bytes" + at(start));
  return false;
}

void MIDIFileReader::readTrack(size_t track, size_t begin, size_t end) {
  size_t position = begin;
  uint64_t tick = 0;
  Byte running = 0;
  while (position < end) {
    const size_t eventStart = position;
    if (timed_.size() + tempos_.size() > kMaxEvents) {
      damage(trackName(track) + ": more than " + std::to_string(kMaxEvents) +
             " events in the file" + at(eventStart));
      return;
    }
    uint64_t delta = 0;
    if (!readNumber(&position, end, &delta, track)) return;
    tick += delta;
    if (position >= end) {
      damage(trackName(track) + " ends inside an event" + at(eventStart));
      return;
    }
    Byte status = data_[position];
    if (status & 0x80) {
      ++position;
    } else if (running == 0) {
      damage(trackName(track) + ": a data byte without a running status" + at(position));
      return;
    } else {
      status = running;
    }
    if (status == 0xFF || status == 0xF0 || status == 0xF7) {
      running = 0;  // meta and sysex events cancel running status
      Byte type = 0;
      if (status == 0xFF) {
        if (position >= end) {
          damage(trackName(track) + " ends inside an event" + at(eventStart));
          return;
        }
        type = data_[position++];
      }
      uint64_t length = 0;
      if (!readNumber(&position, end, &length, track)) return;
      if (length > end - position) {
        damage(trackName(track) + " ends inside an event" + at(eventStart));
        return;
      }
      const uint8_t* body = data_ + position;
      position += length;
      if (status == 0xFF) {
        if (type == 0x2F) return;  // End of Track
        if (type == 0x51) {
          const uint32_t tempo = length == 3 ? bigEndian(body, 3) : 0;
          if (tempo == 0) {
            damage(trackName(track) + ": a tempo event that is not 3 bytes of a tempo" +
                   at(eventStart));
          } else {
            tempos_.push_back(Tempo{tick, tempo});
          }
        }
        continue;
      }
      std::vector<Byte> bytes;
      if (status == 0xF0) bytes.push_back(0xF0);
      bytes.insert(bytes.end(), body, body + length);
      if (!bytes.empty()) timed_.push_back(Timed{tick, std::move(bytes)});
      continue;
    }
    if (status >= 0xF0) {
      static const char kHex[] = "0123456789ABCDEF";
      damage(trackName(track) + ": the system message byte 0x" + kHex[status >> 4] +
             kHex[status & 0xF] + " where an event belongs" + at(eventStart));
      return;
    }
    running = status;
    const size_t length = dataLength(status);
    if (length > end - position) {
      damage(trackName(track) + " ends inside an event" + at(eventStart));
      return;
    }
    std::vector<Byte> bytes{status};
    for (size_t i = 0; i < length; ++i) {
      if (data_[position + i] & 0x80) {
        damage(trackName(track) + ": a status byte where a data byte belongs" + at(position + i));
        return;
      }
      bytes.push_back(data_[position + i]);
    }
    position += length;
    timed_.push_back(Timed{tick, std::move(bytes)});
  }
}

std::vector<MIDIFileReader::Event> MIDIFileReader::timedEvents() {
  std::vector<Timed> sorted = std::move(timed_);
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const Timed& a, const Timed& b) { return a.tick < b.tick; });
  std::vector<Tempo> tempos = tempos_;
  std::stable_sort(tempos.begin(), tempos.end(),
                   [](const Tempo& a, const Tempo& b) { return a.tick < b.tick; });
  // Seconds per tick: by the tempo (120 a minute until a tempo event) and
  // the ticks per quarter note, or by frames and ticks per frame.
  const bool frames = (division_ & 0x8000) != 0;
  double framesPerSecond = 0;
  if (frames) {
    const int rate = -static_cast<int8_t>(division_ >> 8);
    framesPerSecond = rate == 29 ? 29.97 : rate;
  }
  const double ticksPerUnit = frames ? (division_ & 0xFF) * framesPerSecond : (division_ & 0x7FFF);
  auto secondsPerTick = [&](uint32_t tempo) {
    if (ticksPerUnit <= 0) return 0.0;
    return frames ? 1.0 / ticksPerUnit : tempo / 1e6 / ticksPerUnit;
  };
  std::vector<Event> events;
  events.reserve(sorted.size());
  size_t nextTempo = 0;
  uint64_t lastTick = 0;
  double seconds = 0;
  uint32_t tempo = 500000;
  for (auto& event : sorted) {
    while (nextTempo < tempos.size() && tempos[nextTempo].tick <= event.tick) {
      seconds += static_cast<double>(tempos[nextTempo].tick - lastTick) * secondsPerTick(tempo);
      lastTick = tempos[nextTempo].tick;
      tempo = tempos[nextTempo++].microsecondsPerQuarter;
    }
    events.push_back(
        Event{seconds + static_cast<double>(event.tick - lastTick) * secondsPerTick(tempo),
              std::move(event.bytes)});
  }
  return events;
}

}  // namespace wex
