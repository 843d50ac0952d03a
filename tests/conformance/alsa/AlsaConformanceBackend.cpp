#include <alsa/asoundlib.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "conformance/ConformanceBackend.h"
#include "services/alsa/AlsaMIDIServices.h"

namespace wex::test {
namespace {

using namespace std::chrono_literals;

// The ALSA services on the machine's sequencer; skipped where there is none
// (it runs in the kernel guest of the ALSA tests).
class AlsaConformanceBackend : public ConformanceBackend {
 public:
  ~AlsaConformanceBackend() override {
    services_.reset();
    if (peer_) snd_seq_close(peer_);
  }
  std::string unavailableReason() override {
    if (AlsaMIDIServices::sequencerPresent()) return {};
    return "no ALSA sequencer here (/dev/snd/seq); the kernel guest test runs these";
  }
  std::shared_ptr<MIDIServices> open() override {
    std::string error;
    services_ = AlsaMIDIServices::open("wexconform-" + std::to_string(getpid()), &error);
    return services_;
  }
  // A readable port of a sequencer client of the test's own.
  MIDIEndpointRef foreignSource(MIDIServices&) override {
    if (snd_seq_open(&peer_, "default", SND_SEQ_OPEN_DUPLEX, 0) < 0) return 0;
    snd_seq_set_client_name(peer_, "wexconform-peer");
    const int port = snd_seq_create_simple_port(
        peer_, "keys", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (port < 0) return 0;
    const std::string address =
        std::to_string(snd_seq_client_id(peer_)) + ":" + std::to_string(port);
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    while (std::chrono::steady_clock::now() < deadline) {
      for (ItemCount i = 0; i < services_->MIDIGetNumberOfSources(); ++i) {
        const MIDIEndpointRef source = services_->MIDIGetSource(i);
        if (services_->addressOf(source) == address) return source;
      }
      std::this_thread::sleep_for(10ms);
    }
    return 0;
  }

 private:
  std::shared_ptr<AlsaMIDIServices> services_;
  snd_seq_t* peer_ = nullptr;
};

const ConformanceBackendRegistration registration{
    "Alsa", [] { return std::make_unique<AlsaConformanceBackend>(); }};

}  // namespace
}  // namespace wex::test
