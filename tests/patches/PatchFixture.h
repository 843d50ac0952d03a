#pragma once

#include <gtest/gtest.h>

#include <string>

#include "host/Composition.h"
#include "host/PlugInRegistry.h"
#include "patches/WexPatches.h"

namespace wex::test {

// A composition with this system's patches, driven as a composition file and
// the program would drive it.
class PatchFixture : public ::testing::Test {
 protected:
  PatchFixture() { registerWexPatches(registry_); }

  static PortAddress at(const std::string& text) {
    PortAddress address;
    EXPECT_TRUE(PortAddress::parse(text, &address)) << text;
    return address;
  }
  void set(const std::string& input, const Value& value) {
    composition_->setInputValue(at(input), value);
  }
  Value output(const std::string& port) { return composition_->outputValue(at(port)); }
  void connect(const std::string& from, const std::string& to) {
    composition_->connect(at(from), at(to));
  }
  void tick() { composition_->evaluate(static_cast<double>(ticks_++)); }

  // Runs the patch once as the host runs a patch that executes every tick,
  // whether or not an input changed.
  void executeRegardless(const std::string& id) {
    auto patch = composition_->patch(id);
    patch->portTable().beginExecution();
    QCPlugInContext context;
    patch->execute(context, 0, Value());
  }

  PlugInRegistry registry_;
  std::unique_ptr<Composition> composition_ = std::make_unique<Composition>(registry_);
  int ticks_ = 0;
};

}  // namespace wex::test
