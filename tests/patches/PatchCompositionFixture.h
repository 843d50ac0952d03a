#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/Composition.h"
#include "host/PlugInRegistry.h"
#include "host/Structure.h"
#include "host/ValueJSON.h"
#include "midi/EmbeddedServicesFixture.h"
#include "patches/WexPatches.h"

namespace wex {

// Values in test failures: their JSON.
inline void PrintTo(const Value& value, std::ostream* out) {
  *out << ValueJSON::toJSON(value).dump();
}

// Fresh embedded MIDI services and a composition that carries this system's
// patches, evaluated tick by tick on the test's thread.
class PatchCompositionFixture : public EmbeddedServicesFixture {
 protected:
  explicit PatchCompositionFixture(bool withLoopbackBus = false)
      : EmbeddedServicesFixture(withLoopbackBus) {
    registerWexPatches(registry);
    composition = std::make_unique<Composition>(registry);
  }
  ~PatchCompositionFixture() override { composition.reset(); }

  template <class T>
  T& add(const std::string& id, const std::string& className) {
    return dynamic_cast<T&>(composition->addPatch(id, className));
  }
  void tick() { composition->evaluate(ticks_++); }
  void set(const std::string& id, const std::string& key, const Value& value) {
    composition->setInputValue(PortAddress{id, key}, value);
  }
  Value output(const std::string& id, const std::string& key) const {
    return composition->outputValue(PortAddress{id, key});
  }
  bool hasOutput(const std::string& id, const std::string& key) const {
    return composition->patch(id)->portTable().hasPort(QCPortDirection::Output, key);
  }
  // How many times the output has been assigned.
  uint64_t assignments(const std::string& id, const std::string& key) const {
    auto port = composition->patch(id)->portTable().port(QCPortDirection::Output, key);
    return port ? port->version : 0;
  }
  // The keys of the patch's added (dynamic) outputs, in the order added.
  std::vector<std::string> dynamicOutputs(const std::string& id) const {
    std::vector<std::string> keys;
    for (const auto& port : composition->patch(id)->portTable().ports(QCPortDirection::Output)) {
      if (!port.isProperty) keys.push_back(port.key);
    }
    return keys;
  }

 public:
  static Value list(std::vector<Value> values) {
    return Value::structure(Structure::makeList(std::move(values)));
  }
  static Value keyed(std::vector<std::pair<std::string, Value>> entries) {
    return Value::structure(Structure::makeMap(std::move(entries)));
  }
  static Value number(double value) { return Value::number(value); }
  static Value text(const std::string& value) { return Value::string(value); }

 protected:
  // Table helpers for a panel's first table.
  static size_t rows(QCPlugInViewController& panel) {
    return panel.numberOfRowsInTableView(*panel.tableViews().front());
  }
  static Value cell(QCPlugInViewController& panel, const std::string& column, size_t row) {
    const TableView& table = *panel.tableViews().front();
    return panel.tableViewObjectValueForTableColumn(table, *table.columnWithIdentifier(column),
                                                    row);
  }
  static void edit(QCPlugInViewController& panel, const std::string& column, size_t row,
                   const Value& value) {
    const TableView& table = *panel.tableViews().front();
    panel.tableViewSetObjectValue(table, value, *table.columnWithIdentifier(column), row);
  }

  PlugInRegistry registry;
  std::unique_ptr<Composition> composition;

 private:
  double ticks_ = 0;
};

}  // namespace wex
