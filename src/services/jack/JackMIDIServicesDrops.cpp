#include "services/jack/JackMIDIServices.h"
#include "support/SystemLog.h"

namespace wex {

namespace {

unsigned long long sinceLastReport(uint64_t now, uint64_t& reported) {
  const uint64_t count = now - reported;
  reported = now;
  return static_cast<unsigned long long>(count);
}

}  // namespace

// About once a second, on the watcher's thread, and once more when the
// services end: what was dropped since the
// last report, one line per stream; and, once, that JACK's cycle times were
// found off the monotonic clock.
void JackMIDIServices::reportDrops() {
  std::lock_guard lock(mutex_);
  for (auto& stream : inputs_) {
    const uint64_t dropped = stream->dropped.load();
    if (dropped == stream->droppedReported) continue;
    const JackEndpoint* source = endpoints_.find(stream->peer);
    const std::string name = source ? source->name : stream->displayName;
    SystemLog::writef("\tJACK MIDI input from \"%s\" dropped %llu events: the reader fell behind",
                      name.c_str(), sinceLastReport(dropped, stream->droppedReported));
  }
  for (auto& stream : outputs_) {
    const uint64_t dropped = stream->dropped.load();
    const uint64_t unconfirmed = stream->unconfirmedConnections.load();
    if (dropped == stream->droppedReported && unconfirmed == stream->unconfirmedReported) continue;
    const JackEndpoint* destination = endpoints_.find(stream->peer);
    const std::string name = destination ? destination->name : stream->displayName;
    if (unconfirmed != stream->unconfirmedReported) {
      SystemLog::writef(
          "\tJACK MIDI output to \"%s\" went out %llu times before the server showed its new "
          "connection",
          name.c_str(), sinceLastReport(unconfirmed, stream->unconfirmedReported));
    }
    if (dropped == stream->droppedReported) continue;
    SystemLog::writef("\tJACK MIDI output to \"%s\" dropped %llu messages", name.c_str(),
                      sinceLastReport(dropped, stream->droppedReported));
  }
  const uint64_t away = droppedWhileAway_.load();
  if (away != droppedWhileAwayReported_) {
    SystemLog::writef("\tJACK server away: %llu MIDI packet lists were not sent",
                      sinceLastReport(away, droppedWhileAwayReported_));
  }
  const uint64_t replaced = processTable_.estimatesReplaced();
  if (replaced != 0 && !estimatesReplacedReported_) {
    SystemLog::writef(
        "\tJACK's cycle times ran off the monotonic clock in %llu of %llu cycles: such a "
        "cycle is placed at the time it was read",
        static_cast<unsigned long long>(replaced),
        static_cast<unsigned long long>(processTable_.cycles()));
    estimatesReplacedReported_ = true;
  }
}

}  // namespace wex
