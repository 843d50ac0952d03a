#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/QCPlugIn.h"
#include "host/QCPlugInClass.h"
#include "host/QCPropertyPort.h"

namespace wex {

// "wex MIDI Message": builds one message number,
// (type|channel)<<16 | data1<<8 | data2, from a type chosen in a menu, a
// channel and two data values.
class MIDI_MessagePlugIn : public QCPlugIn {
 public:
  static constexpr size_t kTypeCount = 15;
  // The status value of each item of the message type menu, in menu order.
  static const std::array<uint8_t, kTypeCount>& typeTable();

  static AttributeDictionary attributes();
  static std::vector<QCPropertyPortDeclaration> propertyPorts();
  static std::optional<AttributeDictionary> attributesForPropertyPortWithKey(
      const std::string& key);
  static std::vector<std::string> sortedPropertyPortKeys();
  static QCPlugInExecutionMode executionMode() { return QCPlugInExecutionMode::Processor; }
  static QCPlugInTimeMode timeMode() { return QCPlugInTimeMode::None; }

  bool execute(QCPlugInContext& context, double time, const Value& arguments) override;

  QCInputPort<uint64_t> inputMessageType{*this, "inputMessageType"};
  QCInputPort<uint64_t> inputChannel{*this, "inputChannel"};
  QCInputPort<uint64_t> inputData1{*this, "inputData1"};
  QCInputPort<uint64_t> inputData2{*this, "inputData2"};
  QCOutputPort<uint64_t> outputMessage{*this, "outputMessage"};
};

}  // namespace wex
