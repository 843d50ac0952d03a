#include "conformance/ConformanceBackend.h"

#include <map>

namespace wex::test {

namespace {

std::map<std::string, ConformanceBackendFactory>& registry() {
  static std::map<std::string, ConformanceBackendFactory> backends;
  return backends;
}

}  // namespace

ConformanceBackendRegistration::ConformanceBackendRegistration(std::string name,
                                                               ConformanceBackendFactory factory) {
  registry().emplace(std::move(name), std::move(factory));
}

std::vector<std::string> conformanceBackendNames() {
  std::vector<std::string> names;
  for (const auto& [name, factory] : registry()) names.push_back(name);
  return names;
}

std::unique_ptr<ConformanceBackend> makeConformanceBackend(const std::string& name) {
  return registry().at(name)();
}

}  // namespace wex::test
