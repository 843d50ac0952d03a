#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/QCPlugIn.h"
#include "host/QCPlugInClass.h"
#include "host/QCPropertyPort.h"

namespace wex {

// "wex MIDI Message Collector": gathers the values of its "message%i" number
// inputs (those that changed, or all with "Send All") into one structure.
class MIDI_GroupPlugIn : public QCPlugIn {
 public:
  // The largest number of inputs a saved composition or the panel may ask for.
  static constexpr uint64_t kMaximumSavedMessages = 1024;

  MIDI_GroupPlugIn();

  static AttributeDictionary attributes();
  static std::vector<QCPropertyPortDeclaration> propertyPorts();
  static std::optional<AttributeDictionary> attributesForPropertyPortWithKey(
      const std::string& key);
  static QCPlugInExecutionMode executionMode() { return QCPlugInExecutionMode::Processor; }
  static QCPlugInTimeMode timeMode() { return QCPlugInTimeMode::None; }
  static std::optional<std::vector<std::string>> plugInKeys();

  uint64_t numberOfMessages() const { return numberOfMessages_.load(); }
  // Adds or removes inputs, always at the top, until there are n.
  void setNumberOfMessages(uint64_t n);
  // The saved "numberOfMessages", refused unless a whole number from 0 to
  // kMaximumSavedMessages.
  void setSerializedValue(const Value& value, const std::string& key) override;

  bool execute(QCPlugInContext& context, double time, const Value& arguments) override;
  std::unique_ptr<QCPlugInViewController> createViewController() override;

  static std::string messageKey(uint64_t index);
  static std::string messageName(uint64_t index);

  QCInputPort<bool> inputSendAll{*this, "inputSendAll"};
  QCOutputPort<QCStructure> outputMessages{*this, "outputMessages"};

 private:
  static uint64_t checkedNumberOfMessages(const Value& value);
  void addMessageInput(uint64_t index);

  std::mutex resizeMutex_;  // one change of the number at a time
  std::atomic<uint64_t> numberOfMessages_{0};
};

}  // namespace wex
