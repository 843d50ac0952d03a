#include "midiio/MIDIFilePlayer.h"

#include <chrono>
#include <sstream>

#include "midi/OrvMIDINode.h"
#include "midi/OrvMIDIReadProc.h"
#include "midi/WirePieces.h"
#include "midiio/MIDIFileReader.h"
#include "services/MIDIPacketListBuffer.h"
#include "services/MIDIServices.h"
#include "support/LimitedFileReader.h"

namespace wex {

namespace {

// A sysex goes out in pieces of one packet list each; the receivers of this
// program put back together as many as a sysex may span callbacks, and drop
// a longer one. Other programs may take it whole, so it is played all the
// same, and said.
void warnAboutLongSysex(const std::string& path, const std::vector<MIDIFileReader::Event>& events,
                        std::vector<std::string>* warnings) {
  constexpr size_t kLongest = (kMaxSysexCallbacks + 1) * size_t{OrvMIDINode::kMaxPacketData};
  for (const auto& event : events) {
    if (event.bytes.empty() || event.bytes.front() != 0xF0 || event.bytes.size() <= kLongest) {
      continue;
    }
    std::ostringstream warning;
    warning << path << ": the sysex at " << event.seconds << " s holds " << event.bytes.size()
            << " bytes, more than the " << kLongest
            << " this program's receivers take in pieces; it is played for other programs";
    warnings->push_back(warning.str());
  }
}

}  // namespace

std::unique_ptr<MIDIFilePlayer> MIDIFilePlayer::load(const std::string& path, bool lenient,
                                                     std::string* reason,
                                                     std::vector<std::string>* warnings) {
  std::string bytes;
  if (!LimitedFileReader::read(path, &bytes, reason)) return nullptr;
  MIDIFileReader::Result contents =
      MIDIFileReader::read(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  // Without any event, a damaged file has nothing to play even leniently.
  if (!contents.damages.empty() && (!lenient || contents.events.empty())) {
    *reason = path + ": " + contents.damages.front();
    if (contents.damages.size() > 1) {
      *reason += " (and " + std::to_string(contents.damages.size() - 1) + " more damage" +
                 (contents.damages.size() > 2 ? "s" : "") + ")";
    }
    if (!lenient) *reason += "; --lenient plays what can be read";
    return nullptr;
  }
  for (const auto& damage : contents.damages) warnings->push_back(path + ": " + damage);
  warnAboutLongSysex(path, contents.events, warnings);
  std::unique_ptr<MIDIFilePlayer> player(new MIDIFilePlayer());
  for (auto& event : contents.events) {
    player->events_.push_back(Event{event.seconds, std::move(event.bytes)});
  }
  return player;
}

MIDIFilePlayer::~MIDIFilePlayer() {
  stop();
  if (client_) MIDIClientDispose(client_);
}

bool MIDIFilePlayer::publish(std::string* reason) {
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

void MIDIFilePlayer::start() {
  if (thread_.joinable() || finished_) return;
  thread_ = std::thread([this] { play(); });
}

void MIDIFilePlayer::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  finished_ = true;
}

void MIDIFilePlayer::play() {
  using Clock = std::chrono::steady_clock;
  const auto begin = Clock::now();
  // The clock counts nanoseconds in 64 bits, about 292 years; an event later
  // than this (a file may hold one thousands of years away) is never due.
  constexpr double kLatestSeconds = 1e9;
  for (const Event& event : events_) {
    std::unique_lock lock(mutex_);
    if (event.seconds > kLatestSeconds) {
      wake_.wait(lock, [this] { return stopping_; });
      break;
    }
    const auto due = begin + std::chrono::duration_cast<Clock::duration>(
                                 std::chrono::duration<double>(event.seconds));
    if (wake_.wait_until(lock, due, [this] { return stopping_; })) break;
    lock.unlock();
    publishEvent(event);
  }
  finished_ = true;
}

// Long events (a sysex of any length) go out as a sender node sends them:
// in pieces of one packet list each.
void MIDIFilePlayer::publishEvent(const Event& event) {
  if (!source_) return;
  OSStatus status = noErr;
  WirePieces::forEach(
      event.bytes.data(), event.bytes.size(), OrvMIDINode::kMaxPacketData,
      [this, &status](const Byte* piece, size_t length) {
        MIDIPacketListBuffer list(kMIDIPacketListHeaderSize + kMIDIPacketHeaderSize + length);
        list.addPacket(piece, length);
        status = MIDIReceived(source_, list.list());
        return status == noErr;
      });
  if (status == noErr) return;
  if (unplayedEvents_++ == 0) firstFailureStatus_ = status;
}

}  // namespace wex
