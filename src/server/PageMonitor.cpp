#include "server/PageMonitor.h"

#include <cmath>

#include "midiio/MessageJSON.h"
#include "server/CompositionServer.h"

namespace wex {

PageMonitor::PageMonitor(MIDIServices& services, CompositionServer& server)
    : server_(server),
      follower_(services, [this](const std::string& source, const OrvMIDIMessageList& messages,
                                 uint64_t arrival) { received(source, messages, arrival); }) {}

bool PageMonitor::start(std::string* reason) {
  if (!follower_.open(reason)) return false;
  follower_.followAll([this](const std::string& source, bool came) {
    server_.log((came ? "source appeared: " : "source went away: ") + source);
  });
  return true;
}

// On the services' reading thread: the page's queues never wait for a client.
void PageMonitor::received(const std::string& source, const OrvMIDIMessageList& messages,
                           uint64_t arrival) {
  if (server_.events().clientCount() == 0) return;
  using Clock = std::chrono::steady_clock;
  // The services' arrival time where they give one, else now.
  const Clock::time_point at =
      arrival ? Clock::time_point(std::chrono::nanoseconds(arrival)) : Clock::now();
  const std::chrono::duration<double> time = at - startedAt_;
  for (const auto& message : messages) {
    MessageJSON::Json line{{"time", std::round(time.count() * 1e6) / 1e6}, {"source", source}};
    MessageJSON::append(line, *message);
    server_.events().publishEvent("midi", line);
  }
}

}  // namespace wex
