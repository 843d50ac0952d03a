#include "app/PageMonitor.h"

#include "server/CompositionServer.h"
#include "server/MidiTools.h"

namespace wex {

PageMonitor::PageMonitor(MIDIServices& services, CompositionServer& server)
    : server_(server),
      follower_(services, [this](const std::string& source, const OrvMIDIMessageList& messages) {
        received(source, messages);
      }) {}

bool PageMonitor::start(std::string* reason) {
  if (!follower_.open(reason)) return false;
  follower_.followAll([this](const std::string& source, bool came) {
    server_.log((came ? "source appeared: " : "source went away: ") + source);
  });
  return true;
}

// On the services' reading thread: the page's queues never wait for a client.
void PageMonitor::received(const std::string& source, const OrvMIDIMessageList& messages) {
  if (server_.events().clientCount() == 0) return;
  const std::chrono::duration<double> time = std::chrono::steady_clock::now() - startedAt_;
  for (const auto& message : messages) {
    server_.events().publishEvent("midi", MidiTools::describe(*message, source, time.count()));
  }
}

}  // namespace wex
