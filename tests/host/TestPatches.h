#pragma once

// Small patch classes that exercise the host: they record what the host does
// to them so that the tests can check it.

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/PlugInRegistry.h"
#include "host/QCPlugIn.h"
#include "host/QCPlugInViewController.h"
#include "host/QCPropertyPort.h"
#include "support/MainThread.h"

namespace wex::test {

// Shared record of executions, in order, as "id" strings set by the tests.
class ExecutionLog {
 public:
  static ExecutionLog& instance() {
    static ExecutionLog log;
    return log;
  }
  void add(const std::string& entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(entry);
  }
  std::vector<std::string> take() {
    std::lock_guard lock(mutex_);
    return std::exchange(entries_, {});
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> entries_;
};

class LoggingPlugIn : public QCPlugIn {
 public:
  void setLogName(std::string name) {
    std::lock_guard lock(nameMutex_);
    name_ = std::move(name);
  }
  std::atomic<int> executions{0};

 protected:
  void logExecution() {
    ++executions;
    std::lock_guard lock(nameMutex_);
    if (!name_.empty()) ExecutionLog::instance().add(name_);
  }

 private:
  std::mutex nameMutex_;
  std::string name_;
};

// A provider counting its executions on an index output.
class CounterPlugIn : public LoggingPlugIn {
 public:
  static AttributeDictionary attributes() {
    return {{QCPlugInAttributeNameKey, Value::string("Counter")}};
  }
  static std::vector<QCPropertyPortDeclaration> propertyPorts() {
    return {{"outputCount", QCPortTypeIndex}};
  }
  static std::optional<AttributeDictionary> attributesForPropertyPortWithKey(const std::string&) {
    return std::nullopt;
  }
  static QCPlugInExecutionMode executionMode() { return QCPlugInExecutionMode::Provider; }
  static QCPlugInTimeMode timeMode() { return QCPlugInTimeMode::Idle; }

  bool execute(QCPlugInContext&, double, const Value&) override {
    logExecution();
    outputCount = static_cast<uint64_t>(executions.load());
    return true;
  }
  QCOutputPort<uint64_t> outputCount{*this, "outputCount"};
};

// A processor adding two numbers; records which inputs it saw changed.
class AdderPlugIn : public LoggingPlugIn {
 public:
  static AttributeDictionary attributes() {
    return {{QCPlugInAttributeNameKey, Value::string("Adder")}};
  }
  static std::vector<QCPropertyPortDeclaration> propertyPorts() {
    return {{"outputSum", QCPortTypeNumber},
            {"inputA", QCPortTypeNumber},
            {"inputB", QCPortTypeNumber},
            {"inputLevel", QCPortTypeIndex},
            {"inputGate", QCPortTypeBoolean}};
  }
  static std::optional<AttributeDictionary> attributesForPropertyPortWithKey(
      const std::string& key) {
    if (key == "inputLevel") {
      return AttributeDictionary{{QCPortAttributeNameKey, Value::string("Level")},
                                 {QCPortAttributeMaximumValueKey, Value::index(127)}};
    }
    if (key == "inputA") {
      return AttributeDictionary{{QCPortAttributeNameKey, Value::string("A")},
                                 {QCPortAttributeDefaultValueKey, Value::number(0)}};
    }
    return std::nullopt;
  }
  static std::vector<std::string> sortedPropertyPortKeys() { return {"inputA", "inputB"}; }
  static QCPlugInExecutionMode executionMode() { return QCPlugInExecutionMode::Processor; }

  bool execute(QCPlugInContext&, double, const Value&) override {
    logExecution();
    std::string changed;
    for (const char* key : {"inputA", "inputB", "inputLevel", "inputGate"}) {
      if (didValueForInputKeyChange(key)) changed += std::string(changed.empty() ? "" : ",") + key;
    }
    {
      std::lock_guard lock(changedMutex_);
      lastChanged_ = changed;
    }
    outputSum = inputA() + inputB();
    return true;
  }
  std::string lastChanged() {
    std::lock_guard lock(changedMutex_);
    return lastChanged_;
  }

  QCInputPort<double> inputA{*this, "inputA"};
  QCInputPort<double> inputB{*this, "inputB"};
  QCOutputPort<double> outputSum{*this, "outputSum"};

 private:
  std::mutex changedMutex_;
  std::string lastChanged_;
};

// A consumer keeping what its input held at each execution.
class RecorderPlugIn : public LoggingPlugIn {
 public:
  static AttributeDictionary attributes() {
    return {{QCPlugInAttributeNameKey, Value::string("Recorder")}};
  }
  static std::vector<QCPropertyPortDeclaration> propertyPorts() {
    return {{"inputValue", QCPortTypeNumber}, {"inputText", QCPortTypeString}};
  }
  static std::optional<AttributeDictionary> attributesForPropertyPortWithKey(const std::string&) {
    return std::nullopt;
  }
  static QCPlugInExecutionMode executionMode() { return QCPlugInExecutionMode::Consumer; }

  bool execute(QCPlugInContext&, double, const Value&) override {
    logExecution();
    std::lock_guard lock(mutex_);
    seen_.push_back(valueForInputKey("inputValue"));
    changed_.push_back(didValueForInputKeyChange("inputValue"));
    return true;
  }
  std::vector<Value> seen() {
    std::lock_guard lock(mutex_);
    return seen_;
  }
  std::vector<bool> changed() {
    std::lock_guard lock(mutex_);
    return changed_;
  }

 private:
  std::mutex mutex_;
  std::vector<Value> seen_;
  std::vector<bool> changed_;
};

// A processor with a saved setting "portCount" that adds dynamic number inputs
// "in%i" and index outputs "out%i" (each output copies its input), and a panel
// with a table of the ports and a switch.
class DynamicPlugIn : public LoggingPlugIn {
 public:
  DynamicPlugIn() {
    bindSetting(
        "portCount", Value::Type::Index, [this] { return Value::index(portCount_.load()); },
        [this](const Value& value) { setPortCount(value.asIndex()); });
  }
  static AttributeDictionary attributes() {
    return {{QCPlugInAttributeNameKey, Value::string("Dynamic")}};
  }
  static std::vector<QCPropertyPortDeclaration> propertyPorts() { return {}; }
  static std::optional<AttributeDictionary> attributesForPropertyPortWithKey(const std::string&) {
    return std::nullopt;
  }
  static QCPlugInExecutionMode executionMode() { return QCPlugInExecutionMode::Processor; }
  static std::optional<std::vector<std::string>> plugInKeys() {
    return std::vector<std::string>{"portCount"};
  }

  void setPortCount(uint64_t count) {
    std::lock_guard lock(resize_);
    uint64_t current = portCount_.load();
    for (; current > count; --current) {
      removeInputPortForKey("in" + std::to_string(current - 1));
      removeOutputPortForKey("out" + std::to_string(current - 1));
    }
    for (; current < count; ++current) {
      addInputPortWithType(QCPortTypeNumber, "in" + std::to_string(current),
                           {{QCPortAttributeNameKey, Value::string("In")}});
      addOutputPortWithType(QCPortTypeIndex, "out" + std::to_string(current),
                            {{QCPortAttributeNameKey, Value::string("Out")}});
    }
    portCount_ = count;
  }
  uint64_t portCount() const { return portCount_.load(); }

  bool execute(QCPlugInContext&, double, const Value&) override {
    logExecution();
    const uint64_t count = portCount_.load();
    for (uint64_t i = 0; i < count; ++i) {
      const Value value = valueForInputKey("in" + std::to_string(i));
      if (value.isNone()) continue;
      try {
        setValueForOutputKey(value, "out" + std::to_string(i));
      } catch (const QCPlugInHostException&) {
        // the port went away meanwhile
      }
    }
    return true;
  }

  std::unique_ptr<QCPlugInViewController> createViewController() override;

  std::atomic<int> panelsDestroyedOnMainThread{0};
  std::atomic<int> panelsDestroyedElsewhere{0};

 private:
  std::mutex resize_;
  std::atomic<uint64_t> portCount_{0};
};

class DynamicPanel : public QCPlugInViewController {
 public:
  explicit DynamicPanel(DynamicPlugIn& plugIn)
      : QCPlugInViewController(plugIn, "DynamicSettings"), patch_(plugIn) {
    table_ = &addTableView("ports", {TableColumn("index", "Port", TableColumn::Kind::Text, false),
                                     TableColumn("on", "On", TableColumn::Kind::CheckBox, true)});
    addSwitch("double", "Double", [this](PanelSwitch& sender) {
      patch_.setPortCount(sender.state() ? patch_.portCount() * 2 : patch_.portCount() / 2);
    });
  }
  ~DynamicPanel() override;

  size_t numberOfRowsInTableView(const TableView& table) override {
    return &table == table_ ? 8 : 0;
  }
  Value tableViewObjectValueForTableColumn(const TableView& table, const TableColumn& column,
                                           size_t row) override {
    if (&table != table_) return Value();
    if (column.identifier() == "index") return Value::string(std::to_string(row));
    return Value::index(row < patch_.portCount() ? 1 : 0);
  }
  void tableViewSetObjectValue(const TableView& table, const Value& value,
                               const TableColumn& column, size_t row) override {
    if (&table != table_ || column.identifier() != "on") return;
    patch_.setPortCount(value.toDouble() == 1.0 ? row + 1 : row);
  }

 private:
  DynamicPlugIn& patch_;
  TableView* table_;
};

inline DynamicPanel::~DynamicPanel() {
  if (isMainThread()) {
    ++patch_.panelsDestroyedOnMainThread;
  } else {
    ++patch_.panelsDestroyedElsewhere;
  }
}

inline std::unique_ptr<QCPlugInViewController> DynamicPlugIn::createViewController() {
  return std::make_unique<DynamicPanel>(*this);
}

inline void registerTestPatches(PlugInRegistry& registry) {
  registry.registerClass<CounterPlugIn>("CounterPlugIn");
  registry.registerClass<AdderPlugIn>("AdderPlugIn");
  registry.registerClass<RecorderPlugIn>("RecorderPlugIn");
  registry.registerClass<DynamicPlugIn>("DynamicPlugIn");
}

}  // namespace wex::test
