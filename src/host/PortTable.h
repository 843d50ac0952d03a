#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/QCPlugInTypes.h"
#include "host/Value.h"

namespace wex {

// One port of a patch instance as the host keeps it.
struct PortInfo {
  std::string key;
  QCPortDirection direction = QCPortDirection::Input;
  QCPortType type = QCPortType::Number;
  AttributeDictionary attributes;
  bool isProperty = false;
  Value value;  // none until set, unless the port has a default
  // Outputs: counts assignments. Inputs: counts changes of the value.
  uint64_t version = 0;
};

// The ports of one patch instance: its property ports and the ports added at
// run time. Every operation takes the table's own lock briefly, so the main
// thread (panels) may add and remove ports while the evaluation thread reads
// and writes values.
class PortTable {
 public:
  enum class SetResult { Unchanged, Changed, NoSuchPort, WrongType };

  // False when a port with the key exists already (in either direction).
  bool addPort(QCPortDirection direction, QCPortType type, const std::string& key,
               const AttributeDictionary& attributes, bool isProperty);
  // False when there is no such dynamic port (property ports stay).
  bool removePort(QCPortDirection direction, const std::string& key);

  bool hasPort(QCPortDirection direction, const std::string& key) const;
  std::optional<PortInfo> port(QCPortDirection direction, const std::string& key) const;
  // Property ports first (in the order they were declared), then added ports
  // in the order they were added.
  std::vector<PortInfo> ports(QCPortDirection direction) const;

  // None for a missing port.
  Value inputValue(const std::string& key) const;
  // Converts the value to the port's type (index inputs kept within their
  // maximum); a value equal to the current one is no change.
  SetResult setInputValue(const std::string& key, const Value& value);
  // Like setInputValue, but counts as a change even when the value is equal
  // (an input fed by a connection changes whenever its source is assigned).
  SetResult updateInputValue(const std::string& key, const Value& value);
  SetResult setOutputValue(const std::string& key, const Value& value);

  // Change tracking around one execution of the patch. beginExecution fixes,
  // for each input, whether it changed since the previous execution (every
  // input counts as changed on the first); inputChanged answers from that.
  bool anyInputChangedSinceExecution() const;
  void beginExecution();
  bool inputChanged(const std::string& key) const;
  bool hasExecuted() const;

 private:
  struct Entry {
    PortInfo info;
    uint64_t seenVersion = 0;
    bool changedThisExecution = false;
  };
  Entry* find(QCPortDirection direction, const std::string& key);
  const Entry* find(QCPortDirection direction, const std::string& key) const;
  SetResult setInputLocked(const std::string& key, const Value& value, bool always);

  mutable std::mutex mutex_;
  std::vector<Entry> inputs_;
  std::vector<Entry> outputs_;
  bool executed_ = false;
};

}  // namespace wex
