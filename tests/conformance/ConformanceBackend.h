#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "services/MIDIServices.h"

namespace wex::test {

// One backend of the MIDI services as the conformance suite runs it. Each
// test makes a fresh backend object and opens one services object from it.
class ConformanceBackend {
 public:
  virtual ~ConformanceBackend() = default;

  // Empty when the backend can run here, else why not (the test is skipped).
  virtual std::string unavailableReason() = 0;
  virtual std::shared_ptr<MIDIServices> open() = 0;
  // A source of the setup that no client of `services` made (a device's, or
  // another program's), once `services` lists it; 0 when there can be none.
  virtual MIDIEndpointRef foreignSource(MIDIServices& services) = 0;
};

using ConformanceBackendFactory = std::function<std::unique_ptr<ConformanceBackend>()>;

// Registers a backend under a name (letters and digits; the test names end
// in it). A file that defines a static ConformanceBackendRegistration adds
// its backend to every case of the suite: one for each service (embedded,
// JACK, ...) and one for each server a service can run on.
struct ConformanceBackendRegistration {
  ConformanceBackendRegistration(std::string name, ConformanceBackendFactory factory);
};

std::vector<std::string> conformanceBackendNames();
std::unique_ptr<ConformanceBackend> makeConformanceBackend(const std::string& name);

}  // namespace wex::test
