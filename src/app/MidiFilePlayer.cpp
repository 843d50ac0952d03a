#include "app/MidiFilePlayer.h"

#include <smf.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>

#include "services/MIDIPacketListBuffer.h"
#include "services/MIDIServices.h"

namespace wex {

std::unique_ptr<MidiFilePlayer> MidiFilePlayer::load(const std::string& path, std::string* reason) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *reason = path + ": cannot read the file: " + std::strerror(errno);
    return nullptr;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), {});
  // Checked here: libsmf loses memory when it refuses a file without the
  // header.
  if (bytes.size() < 14 || std::string(bytes.data(), 4) != "MThd") {
    *reason = path + ": not a Standard MIDI File (it does not begin with MThd)";
    return nullptr;
  }
  smf_t* smf = smf_load_from_memory(bytes.data(), static_cast<int>(bytes.size()));
  if (!smf) {
    *reason = path + ": not a Standard MIDI File that can be read";
    return nullptr;
  }
  std::unique_ptr<MidiFilePlayer> player(new MidiFilePlayer());
  while (smf_event_t* event = smf_get_next_event(smf)) {
    if (smf_event_is_metadata(event) || event->midi_buffer_length <= 0) continue;
    player->events_.push_back(Event{
        event->time_seconds,
        std::vector<Byte>(event->midi_buffer, event->midi_buffer + event->midi_buffer_length)});
  }
  smf_delete(smf);
  std::stable_sort(player->events_.begin(), player->events_.end(),
                   [](const Event& a, const Event& b) { return a.seconds < b.seconds; });
  return player;
}

MidiFilePlayer::~MidiFilePlayer() {
  stop();
  if (client_) MIDIClientDispose(client_);
}

bool MidiFilePlayer::publish(std::string* reason) {
  if (source_) return true;
  OSStatus status = MIDIClientCreate(kSourceName, nullptr, nullptr, &client_);
  if (status != noErr) {
    *reason = "MIDIClientCreate failed with status " + std::to_string(status);
    client_ = 0;
    return false;
  }
  status = MIDISourceCreate(client_, kSourceName, &source_);
  if (status != noErr) {
    *reason = "MIDISourceCreate failed with status " + std::to_string(status);
    source_ = 0;
    return false;
  }
  return true;
}

void MidiFilePlayer::start() {
  if (thread_.joinable() || finished_) return;
  thread_ = std::thread([this] { play(); });
}

void MidiFilePlayer::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  finished_ = true;
}

void MidiFilePlayer::play() {
  using Clock = std::chrono::steady_clock;
  const auto begin = Clock::now();
  for (const Event& event : events_) {
    const auto due = begin + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(event.seconds));
    std::unique_lock lock(mutex_);
    if (wake_.wait_until(lock, due, [this] { return stopping_; })) break;
    lock.unlock();
    publishEvent(event);
  }
  finished_ = true;
}

void MidiFilePlayer::publishEvent(const Event& event) {
  if (!source_) return;
  MIDIPacketListBuffer list(kMIDIPacketListHeaderSize + kMIDIPacketHeaderSize + event.bytes.size());
  if (list.addPacket(event.bytes)) MIDIReceived(source_, list.list());
}

}  // namespace wex
