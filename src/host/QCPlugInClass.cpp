#include "host/QCPlugInClass.h"

#include <algorithm>

namespace wex {

namespace {

std::string textAttribute(const AttributeDictionary& attributes, const std::string& key) {
  auto found = attributes.find(key);
  return found != attributes.end() && found->second.isString() ? found->second.asString()
                                                               : std::string();
}

}  // namespace

std::string QCPlugInClass::displayName() const {
  return textAttribute(attributes, QCPlugInAttributeNameKey);
}

std::string QCPlugInClass::description() const {
  return textAttribute(attributes, QCPlugInAttributeDescriptionKey);
}

void QCPlugInClass::setPropertyPorts(
    const std::vector<QCPropertyPortDeclaration>& declared,
    const std::function<std::optional<AttributeDictionary>(const std::string&)>& attributesFor) {
  std::vector<QCPropertyPortDeclaration> ordered;
  for (const auto& key : sortedPropertyPortKeys) {
    auto found =
        std::find_if(declared.begin(), declared.end(),
                     [&](const QCPropertyPortDeclaration& port) { return port.key == key; });
    if (found != declared.end()) ordered.push_back(*found);
  }
  for (const auto& port : declared) {
    if (std::find(sortedPropertyPortKeys.begin(), sortedPropertyPortKeys.end(), port.key) ==
        sortedPropertyPortKeys.end()) {
      ordered.push_back(port);
    }
  }
  propertyPorts.clear();
  for (const auto& port : ordered) {
    const bool isOutput = port.key.rfind("output", 0) == 0;
    propertyPorts.push_back(
        PropertyPort{port.key, isOutput ? QCPortDirection::Output : QCPortDirection::Input,
                     port.type, attributesFor(port.key).value_or(AttributeDictionary{})});
  }
}

std::shared_ptr<QCPlugIn> QCPlugInClass::createInstance() const {
  std::shared_ptr<QCPlugIn> instance = factory();
  if (!instance) return nullptr;
  for (const auto& port : propertyPorts) {
    instance->portTable().addPort(port.direction, port.type, port.key, port.attributes, true);
  }
  return instance;
}

}  // namespace wex
