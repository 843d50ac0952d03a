#include "conformance/ConformanceBackend.h"
#include "services/embedded/EmbeddedMIDIServices.h"

namespace wex::test {
namespace {

class EmbeddedConformanceBackend : public ConformanceBackend {
 public:
  std::string unavailableReason() override { return {}; }
  std::shared_ptr<MIDIServices> open() override {
    services_ = std::make_shared<EmbeddedMIDIServices>();
    return services_;
  }
  MIDIEndpointRef foreignSource(MIDIServices&) override {
    return services_->createDeviceSource("Conformance Keys");
  }

 private:
  std::shared_ptr<EmbeddedMIDIServices> services_;
};

const ConformanceBackendRegistration registration{
    "Embedded", [] { return std::make_unique<EmbeddedConformanceBackend>(); }};

}  // namespace
}  // namespace wex::test
