#include "app/EndpointListManager.h"

namespace wex {

void EndpointListManager::setupChanged() {
  loadMIDIInputSources();
  loadMIDIOutputDestinations();
  if (OrvMIDIDelegateProtocol* listener = delegate()) listener->setupChanged();
}

}  // namespace wex
