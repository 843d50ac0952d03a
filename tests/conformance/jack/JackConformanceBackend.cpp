#include <jack/jack.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "conformance/ConformanceBackend.h"
#include "services/jack/JackClientLedger.h"
#include "services/jack/JackMIDIServices.h"

namespace wex::test {
namespace {

using namespace std::chrono_literals;

// Test processes may share a server: names carry the process id.
std::string uniqueConformanceName(const std::string& prefix) {
  return prefix + "-" + std::to_string(getpid());
}

// The JACK services on the server the environment names (JACK_DEFAULT_SERVER);
// skipped when none can be reached, as the other JACK tests are. The same
// backend runs against another JACK server implementation when the JACK
// library found first is that server's.
class JackConformanceBackend : public ConformanceBackend {
 public:
  ~JackConformanceBackend() override {
    services_.reset();
    if (peer_) JackClientLedger::close(peer_);
  }
  std::string unavailableReason() override {
    if (JackMIDIServices::serverRunning()) return {};
    return "no JACK server is reachable (start one and set JACK_DEFAULT_SERVER)";
  }
  std::shared_ptr<MIDIServices> open() override {
    std::string error;
    services_ = JackMIDIServices::open(uniqueConformanceName("wexconform"), &error);
    return services_;
  }
  // An output port of a JACK client of the test's own.
  MIDIEndpointRef foreignSource(MIDIServices&) override {
    peer_ = JackClientLedger::open(uniqueConformanceName("wexconform-peer"));
    if (!peer_) return 0;
    jack_port_t* port =
        jack_port_register(peer_, "keys", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (!port || jack_activate(peer_) != 0) return 0;
    const std::string name = jack_port_name(port);
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < deadline) {
      for (ItemCount i = 0; i < services_->MIDIGetNumberOfSources(); ++i) {
        const MIDIEndpointRef source = services_->MIDIGetSource(i);
        if (services_->jackPortName(source) == name) return source;
      }
      std::this_thread::sleep_for(10ms);
    }
    return 0;
  }

 private:
  std::shared_ptr<JackMIDIServices> services_;
  jack_client_t* peer_ = nullptr;
};

const ConformanceBackendRegistration registration{
    "Jack", [] { return std::make_unique<JackConformanceBackend>(); }};

}  // namespace
}  // namespace wex::test
