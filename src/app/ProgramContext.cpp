#include "app/ProgramContext.h"

#include "services/MIDIServices.h"
#include "services/embedded/EmbeddedMIDIServices.h"

#if defined(WEX_HAVE_JACK) && __has_include("services/jack/JackMIDIServices.h")
#include "services/jack/JackMIDIServices.h"
#define WEX_JACK_SERVICES 1
#endif

namespace wex {

namespace {

constexpr const char* kJackClientName = "wexmidi";

bool jackServerRunning() {
#ifdef WEX_JACK_SERVICES
  return JackMIDIServices::serverRunning();
#else
  return false;
#endif
}

}  // namespace

ProgramContext::~ProgramContext() {
  if (services_ && currentMIDIServicesShared() == services_) installMIDIServices(nullptr);
}

std::shared_ptr<MIDIServices> ProgramContext::startMIDIServices() {
  if (services_) return services_;
  const bool jack = midiChoice_ == "jack" || (midiChoice_.empty() && jackServerRunning());
  if (!jack) {
    if (midiChoice_.empty()) {
      err() << "wexmidi: no JACK server answers, so the embedded MIDI services are used (only "
               "the program's own endpoints); start a JACK server, or on a PipeWire desktop run "
               "the program through pw-jack (pw-jack wexmidi ...); --midi embedded chooses them "
               "without this note\n";
    }
    services_ = std::make_shared<EmbeddedMIDIServices>();
    servicesName_ = "embedded";
  } else {
#ifdef WEX_JACK_SERVICES
    std::string error;
    services_ = JackMIDIServices::open(kJackClientName, &error);
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

}  // namespace wex
