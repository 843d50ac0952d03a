#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/PortTable.h"
#include "host/QCPlugInContext.h"
#include "host/QCPlugInHostException.h"
#include "host/QCPlugInTypes.h"
#include "host/Value.h"

namespace wex {

class QCPlugInHost;
class QCPlugInViewController;

// A patch. Subclasses describe themselves at class level with static members
// that PlugInRegistry::registerClass<T> reads:
//
//   static AttributeDictionary attributes();                       // required
//   static std::vector<QCPropertyPortDeclaration> propertyPorts();  // required
//   static std::optional<AttributeDictionary>
//       attributesForPropertyPortWithKey(const std::string& key);   // required
//   static QCPlugInExecutionMode executionMode();                   // required
//   static QCPlugInTimeMode timeMode();                // default: None
//   static std::vector<std::string> sortedPropertyPortKeys();  // default: none
//   static std::optional<std::vector<std::string>> plugInKeys();  // default: none
//
// Property ports are typed members (QCInputPort / QCOutputPort, see
// host/QCPropertyPort.h) over the host's port table; dynamic ports go through
// the host operations below, which throw QCPlugInHostException where the host
// refuses.
//
// Threads: execute runs on the composition's evaluation thread; panels act on
// the patch from the main thread, possibly while it executes, so a patch
// guards its own fields. The port operations are safe from any thread.
class QCPlugIn {
 public:
  QCPlugIn();
  virtual ~QCPlugIn();
  QCPlugIn(const QCPlugIn&) = delete;
  QCPlugIn& operator=(const QCPlugIn&) = delete;

  // Class-level defaults, hidden by a patch class that declares its own.
  static QCPlugInTimeMode timeMode() { return QCPlugInTimeMode::None; }
  static std::vector<std::string> sortedPropertyPortKeys() { return {}; }
  static std::optional<std::vector<std::string>> plugInKeys() { return std::nullopt; }

  // Execution. The defaults report success and do nothing.
  virtual bool startExecution(QCPlugInContext& context);
  virtual void enableExecution(QCPlugInContext& context);
  virtual void disableExecution(QCPlugInContext& context);
  virtual void stopExecution(QCPlugInContext& context);
  virtual bool execute(QCPlugInContext& context, double time, const Value& arguments) = 0;

  // Saved settings, one per plugInKeys key. The host's default goes through
  // the getter and setter bound with bindSetting; it throws
  // QCPlugInHostException for a key without a binding or a value that does
  // not convert to the setting's type.
  virtual Value serializedValueForKey(const std::string& key);
  virtual void setSerializedValue(const Value& value, const std::string& key);

  // A new settings panel, owned by the caller (the host); null for none.
  virtual std::unique_ptr<QCPlugInViewController> createViewController();

  // Host operations.
  void addInputPortWithType(QCPortType type, const std::string& key,
                            const AttributeDictionary& attributes);
  void addOutputPortWithType(QCPortType type, const std::string& key,
                             const AttributeDictionary& attributes);
  void removeInputPortForKey(const std::string& key);
  void removeOutputPortForKey(const std::string& key);
  // The input's value, or none for a missing port (or one never set).
  Value valueForInputKey(const std::string& key) const;
  // Numeric values are converted to the port's type; throws for a missing
  // output or a value of an unconvertible kind.
  void setValueForOutputKey(const Value& value, const std::string& key);
  // Whether the input changed since this patch's previous execution. Asked
  // outside an execution it reports the state of the last one.
  bool didValueForInputKeyChange(const std::string& key) const;
  // Asks the host for an evaluation as soon as possible (from any thread).
  void requestEvaluation();

  // The settings as properties: the bound getter and setter (what a panel's
  // number control and the host's default use). Throws like the default.
  Value valueForSetting(const std::string& key) const;
  void setValueForSetting(const Value& value, const std::string& key);
  bool hasSetting(const std::string& key) const;

  // For the host.
  PortTable& portTable() { return ports_; }
  const PortTable& portTable() const { return ports_; }
  void setHost(QCPlugInHost* host);

 protected:
  // Binds a saved setting to its getter and setter; `type` is the kind of value
  // the setter takes (numbers convert among boolean, index and number).
  void bindSetting(const std::string& key, Value::Type type, std::function<Value()> getter,
                   std::function<void(const Value&)> setter);

 private:
  struct SettingBinding {
    Value::Type type;
    std::function<Value()> getter;
    std::function<void(const Value&)> setter;
  };
  const SettingBinding& binding(const std::string& key) const;
  void addPort(QCPortDirection direction, QCPortType type, const std::string& key,
               const AttributeDictionary& attributes);
  void removePort(QCPortDirection direction, const std::string& key);

  PortTable ports_;
  std::map<std::string, SettingBinding> settings_;
  mutable std::mutex hostMutex_;
  QCPlugInHost* host_ = nullptr;
};

}  // namespace wex
