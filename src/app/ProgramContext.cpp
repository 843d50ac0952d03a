#include "app/ProgramContext.h"

#include <poll.h>
#include <unistd.h>

#include "services/MIDIServices.h"
#include "services/embedded/EmbeddedMIDIServices.h"

#if defined(WEX_HAVE_JACK) && __has_include("services/jack/JackMIDIServices.h")
#include "services/jack/JackMIDIServices.h"
#define WEX_JACK_SERVICES 1
#endif
#if defined(WEX_HAVE_ALSA) && __has_include("services/alsa/AlsaMIDIServices.h")
#include "services/alsa/AlsaMIDIServices.h"
#define WEX_ALSA_SERVICES 1
#endif

namespace wex {

namespace {

bool jackServerRunning() {
#ifdef WEX_JACK_SERVICES
  return JackMIDIServices::serverRunning();
#else
  return false;
#endif
}

bool alsaSequencerPresent() {
#ifdef WEX_ALSA_SERVICES
  return AlsaMIDIServices::sequencerPresent();
#else
  return false;
#endif
}

constexpr double kClosingDeliverySeconds = 0.5;

}  // namespace

ProgramContext::~ProgramContext() {
  if (!services_) return;
  // What the patches sent as they ended (a sender's note offs) goes out
  // before the services close; a stalled server holds the end only so long.
  services_->waitUntilDelivered(kClosingDeliverySeconds);
  if (currentMIDIServicesShared() == services_) installMIDIServices(nullptr);
}

bool ProgramContext::outputReaderGone() const {
  if (&out_ != &std::cout) return false;
  pollfd descriptor{STDOUT_FILENO, 0, 0};
  return ::poll(&descriptor, 1, 0) > 0 && (descriptor.revents & (POLLERR | POLLHUP)) != 0;
}

std::shared_ptr<MIDIServices> ProgramContext::startMIDIServices() {
  if (services_) return services_;
  std::string choice = midiChoice_;
  if (choice.empty()) {
    choice = jackServerRunning() ? "jack" : alsaSequencerPresent() ? "alsa" : "embedded";
  }
  if (choice == "alsa") {
#ifdef WEX_ALSA_SERVICES
    std::string error;
    services_ = AlsaMIDIServices::open(clientName_, &error);
    if (!services_) {
      err() << "wexmidi: cannot use the ALSA MIDI services: " << error << "\n";
      return nullptr;
    }
    servicesName_ = "alsa";
#else
    err() << "wexmidi: the ALSA MIDI services are not part of this build\n";
    return nullptr;
#endif
  } else if (choice != "jack") {
    if (midiChoice_.empty()) {
      err() << "wexmidi: no JACK server answers and there is no ALSA sequencer, so the embedded "
               "MIDI services are used (only the program's own endpoints); start a JACK server, "
               "or on a PipeWire desktop run the program through pw-jack (pw-jack wexmidi ...); "
               "--midi embedded chooses them without this note\n";
    }
    services_ = std::make_shared<EmbeddedMIDIServices>();
    servicesName_ = "embedded";
  } else {
#ifdef WEX_JACK_SERVICES
    std::string error;
    services_ = JackMIDIServices::open(clientName_, &error);
    if (!services_) {
      err() << "wexmidi: cannot use the JACK MIDI services: " << error << "\n";
      return nullptr;
    }
#else
    err() << "wexmidi: the JACK MIDI services are not part of this build\n";
    return nullptr;
#endif
  }
  if (servicesName_.empty()) servicesName_ = "jack";
  installMIDIServices(services_);
  return services_;
}

std::vector<std::string> ProgramContext::endpointNames(const std::vector<std::string>& wanted,
                                                       bool isSource) {
#ifdef WEX_ALSA_SERVICES
  if (auto alsa = std::dynamic_pointer_cast<AlsaMIDIServices>(services_)) {
    std::vector<std::string> names;
    for (const auto& text : wanted) {
      const std::string name = alsa->endpointNameAt(text, isSource);
      names.push_back(name.empty() ? text : name);
    }
    return names;
  }
#endif
  (void)isSource;
  return wanted;
}

}  // namespace wex
