#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "host/QCPlugIn.h"
#include "host/QCPlugInClass.h"
#include "host/QCPropertyPort.h"

namespace wex {

// What the CC and the note distributor share: the enable list (128 numbers
// when the patch makes it; a restored list keeps its length), entry n true
// exactly when number n has its output ports; learning; saving and restoring
// the list; and the two input ports with their attributes. Panels change these on the main thread
// while the host evaluates on its own, so one lock guards the list, the learning flag and the
// learned numbers, and is held across the port changes that go with them.
class DistributorPlugIn : public QCPlugIn {
 public:
  static constexpr int kNumberCount = 128;

  bool learnMessages() const;
  // On: forget what an earlier run learned and start over. Off: give every
  // learned number its ports, in ascending order (a number that has them
  // already keeps them).
  void setLearnMessages(bool learn);
  // The numbers learned since learning began, ascending; empty when not
  // learning.
  std::vector<int> learnedSoFar() const;

  // The enable list, copied under the lock.
  std::vector<bool> enableList() const;
  bool isEnabled(int n) const;
  // Replaces the list, whatever its length, and adds or removes ports so that
  // each true entry has its ports and each other number none.
  void setEnableList(const std::vector<bool>& list);

  // The saved setting: the enable list, a list of any length whose entries
  // are booleans or numbers (true when not zero); anything else is refused
  // with a QCPlugInHostException naming the patch and the key.
  void setSerializedValue(const Value& value, const std::string& key) override;

 protected:
  DistributorPlugIn(std::string className, std::string settingKey);

  // The input ports both distributors have: "inputMessages" and
  // "inputChannel", with their attributes.
  static std::vector<QCPropertyPortDeclaration> inputPropertyPorts();
  static std::optional<AttributeDictionary> inputPortAttributes(const std::string& key);

  // Entry n becomes true and n gets its ports; throws std::out_of_range for a
  // number outside the list (before any port is touched) and lets the host's
  // refusal through.
  void enablePort(int n);
  void disablePort(int n);
  // For the subclass's constructor: entry 0 on with its ports, 1 to 127 off.
  void makeInitialPorts();

  // The subclass's ports of number n. addPortsFor and removePortsFor stop at
  // the first refusal of the host (QCPlugInHostException).
  virtual void addPortsFor(int n) = 0;
  virtual void removePortsFor(int n) = 0;
  virtual bool hasPortsFor(int n) const = 0;

  // Evaluation: holds the lock while the subclass handles one input.
  // `handle` gets each element's message number and whether the patch is
  // learning; it calls learn(n) to record a number.
  using ElementHandler = std::function<void(int32_t number, bool learning)>;
  void distribute(const QCStructure& messages, bool textsToo, const ElementHandler& handle);
  void learn(int n);  // only from inside distribute

  static std::string numberedKey(const char* prefix, int n) { return prefix + std::to_string(n); }

 private:
  void enablePortLocked(int n);
  void disablePortLocked(int n);
  void reconcileLocked(const std::vector<bool>& list);
  Value enableListValue() const;
  std::vector<bool> enableListFromValue(const Value& value) const;
  // The number an element stands for, read as a signed 32-bit integer; texts
  // by their leading decimal integer when textsToo. Nothing for the others.
  static std::optional<int32_t> elementNumber(const Value& element, bool textsToo);

  const std::string className_;
  const std::string settingKey_;
  mutable std::mutex lock_;  // guards the three fields below
  std::vector<bool> ports_;
  bool learnMessages_ = false;
  std::optional<std::set<int>> learnedMessages_;
};

}  // namespace wex
