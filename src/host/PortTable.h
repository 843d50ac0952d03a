#pragma once

#include <atomic>
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

  // Where a port sits in a table: found by its key once, and found again only
  // after ports were added to or removed from that table. A slot belongs to
  // one caller at a time (the evaluating thread).
  struct Slot {
    explicit Slot(std::string portKey) : key(std::move(portKey)) {}
    std::string key;
    uint64_t layout = 0;  // the table's layout the index was found in; 0 for none
    size_t index = 0;     // kNoPort when the table had no such port
  };
  static constexpr size_t kNoPort = SIZE_MAX;

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

  // Counts every assignment to any output of the table: while it stays the
  // same, no output has a new value (read without the table's lock).
  uint64_t outputAssignments() const { return outputAssignments_.load(std::memory_order_acquire); }
  // The output's value when it has been assigned and its version is not
  // `*taken`; then `*taken` becomes that version. False otherwise, and for a
  // missing port.
  bool takeOutput(Slot& output, uint64_t* taken, Value* value);
  // updateInputValue for the input in the slot.
  SetResult updateInput(Slot& input, const Value& value);

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
  SetResult setInputLocked(Entry* entry, const Value& value, bool always);
  // Called with the lock held; null for a missing port.
  Entry* resolve(QCPortDirection direction, Slot& slot);

  mutable std::mutex mutex_;
  std::vector<Entry> inputs_;
  std::vector<Entry> outputs_;
  bool executed_ = false;
  uint64_t layout_ = 1;  // changes whenever a port is added or removed
  std::atomic<uint64_t> outputAssignments_{0};
  // Counts changes of any input; its value when the last execution began.
  // While the two are equal no input has changed, which a tick asks of every
  // patch without taking the lock.
  std::atomic<uint64_t> inputChanges_{0};
  std::atomic<uint64_t> inputChangesSeen_{UINT64_MAX};
};

}  // namespace wex
