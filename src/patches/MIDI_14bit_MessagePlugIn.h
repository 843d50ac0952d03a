#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/QCPlugIn.h"
#include "host/QCPlugInClass.h"
#include "host/QCPropertyPort.h"

namespace wex {

// "wex MIDI 14bit CC Message": splits a 14-bit controller value into the
// coarse (MSB) and fine (LSB, controller + 32) control change message numbers.
class MIDI_14bit_MessagePlugIn : public QCPlugIn {
 public:
  static AttributeDictionary attributes();
  static std::vector<QCPropertyPortDeclaration> propertyPorts();
  static std::optional<AttributeDictionary> attributesForPropertyPortWithKey(
      const std::string& key);
  static std::vector<std::string> sortedPropertyPortKeys();
  static QCPlugInExecutionMode executionMode() { return QCPlugInExecutionMode::Processor; }
  static QCPlugInTimeMode timeMode() { return QCPlugInTimeMode::None; }

  bool execute(QCPlugInContext& context, double time, const Value& arguments) override;

  QCInputPort<uint64_t> inputChannel{*this, "inputChannel"};
  QCInputPort<uint64_t> inputControllerNumber{*this, "inputControllerNumber"};
  QCInputPort<uint64_t> input14Value{*this, "input14Value"};
  QCOutputPort<uint64_t> outputMSB{*this, "outputMSB"};
  QCOutputPort<uint64_t> outputLSB{*this, "outputLSB"};
};

}  // namespace wex
