#include "services/alsa/AlsaReader.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace wex {

namespace {

constexpr ByteCount kPacketListCapacity = 64 * 1024;
constexpr auto kReportInterval = std::chrono::seconds(1);

bool isAnnouncement(const snd_seq_event_t& event) {
  return event.type >= SND_SEQ_EVENT_CLIENT_START && event.type <= SND_SEQ_EVENT_PORT_CHANGE;
}

}  // namespace

AlsaReader::AlsaReader(AlsaSequencer& sequencer, CallbackGate& gate, Owner& owner)
    : sequencer_(sequencer),
      gate_(gate),
      owner_(owner),
      packets_(kPacketListCapacity),
      wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

AlsaReader::~AlsaReader() {
  stop();
  if (wakeFd_ >= 0) close(wakeFd_);
}

void AlsaReader::start() {
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
}

void AlsaReader::stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  const uint64_t one = 1;
  if (write(wakeFd_, &one, sizeof one) < 0) {
    // The reader still sees the flag within one poll timeout.
  }
  thread_.join();
}

void AlsaReader::run() {
  std::vector<pollfd> descriptors = sequencer_.inputDescriptors();
  descriptors.push_back({wakeFd_, POLLIN, 0});
  auto nextReport = std::chrono::steady_clock::now() + kReportInterval;
  while (!stopping_.load()) {
    poll(descriptors.data(), descriptors.size(), 100);
    if (stopping_.load()) break;
    readAvailable();
    if (setupDirty_) {
      setupDirty_ = false;
      owner_.setupMayHaveChanged();
    }
    if (std::chrono::steady_clock::now() >= nextReport) {
      owner_.reportDrops();
      nextReport = std::chrono::steady_clock::now() + kReportInterval;
    }
  }
  // What was dropped since the last report, by a program that ends sooner.
  owner_.reportDrops();
}

void AlsaReader::readAvailable() {
  streams_ = owner_.inputStreams();
  for (;;) {
    int error = 0;
    const snd_seq_event_t* event = sequencer_.readEvent(&error);
    if (error == -ENOSPC) {
      overruns_.fetch_add(1);
      continue;
    }
    if (!event) break;
    handle(*event);
  }
  deliver();
  current_.reset();
  streams_.clear();
}

void AlsaReader::handle(const snd_seq_event_t& event) {
  if (isAnnouncement(event)) {
    setupDirty_ = true;
    return;
  }
  if (event.type == SND_SEQ_EVENT_ECHO && event.source.client == sequencer_.clientId()) {
    deliver();
    {
      std::lock_guard lock(markerMutex_);
      handledMarker_ = event.data.raw32.d[0];
    }
    markerSeen_.notify_all();
    return;
  }
  auto found = streams_.find(event.dest.port);
  if (found == streams_.end()) {
    // A stream made since this batch began.
    streams_ = owner_.inputStreams();
    found = streams_.find(event.dest.port);
    if (found == streams_.end()) return;
  }
  bytes_.clear();
  if (!coder_.decode(event, &bytes_)) return;
  if (found->second != current_) {
    deliver();
    current_ = found->second;
  }
  if (!packets_.addPacket(bytes_)) {
    deliver();
    packets_.addPacket(bytes_);
  }
}

void AlsaReader::deliver() {
  if (packets_.packetCount() == 0 || !current_) return;
  AlsaInputStream& stream = *current_;
  gate_.run(stream.client, [&] {
    if (stream.alive.load() && stream.readProc)
      stream.readProc(packets_.list(), stream.refCon, stream.connRefCon);
  });
  packets_.clear();
}

bool AlsaReader::waitForEverythingBefore(int port, std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(markerMutex_);
  const uint32_t marker = ++nextMarker_;
  snd_seq_event_t event;
  snd_seq_ev_clear(&event);
  event.type = SND_SEQ_EVENT_ECHO;
  snd_seq_ev_set_source(&event, port);
  snd_seq_ev_set_dest(&event, sequencer_.clientId(), port);
  snd_seq_ev_set_direct(&event);
  event.data.raw32.d[0] = marker;
  // Sent under the lock, markers go out in the order of their numbers, so a
  // later one seen means this one was too.
  if (sequencer_.send(event) < 0) return false;
  return markerSeen_.wait_until(lock, deadline,
                                [&] { return static_cast<int32_t>(handledMarker_ - marker) >= 0; });
}

}  // namespace wex
