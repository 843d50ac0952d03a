#include "app/ProgramContext.h"

#include "services/MIDIServices.h"

namespace wex {

std::shared_ptr<MIDIServices> ProgramContext::startMIDIServices() {
  if (services_) return services_;
  err() << "wexmidi: no MIDI services are available in this build\n";
  return nullptr;
}

}  // namespace wex
