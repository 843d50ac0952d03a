#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/QCPlugInClass.h"
#include "patches/DistributorPlugIn.h"

namespace wex {

// "wex MIDI CC Message Distributor": writes the value of each control change
// on the chosen channel to the index output "controller%i" of its controller,
// for the controllers enabled in the panel or learned. The enable list is
// saved as "controllerPorts".
class MIDI_CCDistributorPlugIn : public DistributorPlugIn {
 public:
  static constexpr const char* kPanelName = "CCDistributorSettings";
  static constexpr const char* kSettingKey = "controllerPorts";

  MIDI_CCDistributorPlugIn();

  static AttributeDictionary attributes();
  static std::vector<QCPropertyPortDeclaration> propertyPorts();
  static std::optional<AttributeDictionary> attributesForPropertyPortWithKey(
      const std::string& key);
  static QCPlugInExecutionMode executionMode() { return QCPlugInExecutionMode::Processor; }
  static QCPlugInTimeMode timeMode() { return QCPlugInTimeMode::None; }
  static std::optional<std::vector<std::string>> plugInKeys();

  static std::string controllerKey(int n) { return numberedKey("controller", n); }
  static std::string controllerName(int n) { return numberedKey("Controller ", n); }

  void enableControllerPort(int n) { enablePort(n); }
  void disableControllerPort(int n) { disablePort(n); }
  std::vector<bool> controllerPorts() const { return enableList(); }
  void setControllerPorts(const std::vector<bool>& list) { setEnableList(list); }

  bool execute(QCPlugInContext& context, double time, const Value& arguments) override;
  std::unique_ptr<QCPlugInViewController> createViewController() override;

  QCInputPort<QCStructure> inputMessages{*this, "inputMessages"};
  QCInputPort<uint64_t> inputChannel{*this, "inputChannel"};

 protected:
  void addPortsFor(int n) override;
  void removePortsFor(int n) override;
  bool hasPortsFor(int n) const override;
};

}  // namespace wex
