#include "host/PlugInRegistry.h"

#include <stdexcept>

namespace wex {

void PlugInRegistry::add(QCPlugInClass plugInClass) {
  if (classNamed(plugInClass.className)) {
    throw std::invalid_argument("patch class " + plugInClass.className + " is registered already");
  }
  classes_.push_back(std::move(plugInClass));
}

const QCPlugInClass* PlugInRegistry::classNamed(const std::string& className) const {
  for (const auto& plugInClass : classes_) {
    if (plugInClass.className == className) return &plugInClass;
  }
  return nullptr;
}

}  // namespace wex
