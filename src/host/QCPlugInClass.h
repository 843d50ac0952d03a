#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/QCPlugIn.h"
#include "host/QCPlugInTypes.h"

namespace wex {

// A property port as a patch class declares it. The direction follows from
// the key: "input..." ports are inputs, "output..." ports outputs.
struct QCPropertyPortDeclaration {
  std::string key;
  QCPortType type;
};

// Everything the host knows of a patch class before making an instance.
struct QCPlugInClass {
  struct PropertyPort {
    std::string key;
    QCPortDirection direction;
    QCPortType type;
    AttributeDictionary attributes;
  };

  std::string className;
  AttributeDictionary attributes;
  // In display order: the sorted keys first, then the others as declared.
  std::vector<PropertyPort> propertyPorts;
  std::vector<std::string> sortedPropertyPortKeys;
  QCPlugInExecutionMode executionMode = QCPlugInExecutionMode::Processor;
  QCPlugInTimeMode timeMode = QCPlugInTimeMode::None;
  std::optional<std::vector<std::string>> plugInKeys;
  std::function<std::shared_ptr<QCPlugIn>()> factory;

  std::string displayName() const;
  std::string description() const;

  // A new instance with its property ports made (each at its default value).
  std::shared_ptr<QCPlugIn> createInstance() const;

  template <class T>
  static QCPlugInClass describe(std::string className) {
    QCPlugInClass result;
    result.className = std::move(className);
    result.attributes = T::attributes();
    result.sortedPropertyPortKeys = T::sortedPropertyPortKeys();
    result.executionMode = T::executionMode();
    result.timeMode = T::timeMode();
    result.plugInKeys = T::plugInKeys();
    result.factory = [] { return std::shared_ptr<QCPlugIn>(std::make_shared<T>()); };
    result.setPropertyPorts(T::propertyPorts(), [](const std::string& key) {
      return T::attributesForPropertyPortWithKey(key);
    });
    return result;
  }

 private:
  void setPropertyPorts(
      const std::vector<QCPropertyPortDeclaration>& declared,
      const std::function<std::optional<AttributeDictionary>(const std::string&)>& attributesFor);
};

}  // namespace wex
