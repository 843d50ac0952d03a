#include "app/MidiFilePlayer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "app/MidiFileReader.h"
#include "services/MIDIPacketListBuffer.h"
#include "services/MIDIServices.h"

namespace wex {

namespace {

constexpr size_t kMaxFileSize = 64 * 1024 * 1024;

bool readFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* reason) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *reason = path + ": cannot read the file: " + std::strerror(errno);
    return false;
  }
  struct stat status {};
  if (::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    ::close(fd);
    *reason = path + ": is a directory, not a file";
    return false;
  }
  uint8_t buffer[65536];
  while (true) {
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 || bytes->size() + static_cast<size_t>(count) > kMaxFileSize) {
      *reason = path + (count < 0 ? ": cannot read the file: " + std::string(std::strerror(errno))
                                  : ": the file is larger than 64 MiB");
      ::close(fd);
      return false;
    }
    if (count == 0) break;
    bytes->insert(bytes->end(), buffer, buffer + count);
  }
  ::close(fd);
  return true;
}

}  // namespace

std::unique_ptr<MidiFilePlayer> MidiFilePlayer::load(const std::string& path, bool lenient,
                                                     std::string* reason,
                                                     std::vector<std::string>* warnings) {
  std::vector<uint8_t> bytes;
  if (!readFile(path, &bytes, reason)) return nullptr;
  MidiFileReader::Result contents = MidiFileReader::read(bytes.data(), bytes.size());
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
  std::unique_ptr<MidiFilePlayer> player(new MidiFilePlayer());
  for (auto& event : contents.events) {
    player->events_.push_back(Event{event.seconds, std::move(event.bytes)});
  }
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

void MidiFilePlayer::publishEvent(const Event& event) {
  if (!source_) return;
  MIDIPacketListBuffer list(kMIDIPacketListHeaderSize + kMIDIPacketHeaderSize + event.bytes.size());
  if (list.addPacket(event.bytes)) MIDIReceived(source_, list.list());
}

}  // namespace wex
