#pragma once

#include <deque>
#include <string>

#include "host/QCPlugInClass.h"

namespace wex {

// The patch classes a host can make, by class name, in registration order.
// Patch libraries register through one function of theirs that the program
// calls (for this system's patches: registerWexPatches).
class PlugInRegistry {
 public:
  template <class T>
  void registerClass(std::string className) {
    add(QCPlugInClass::describe<T>(std::move(className)));
  }
  // Throws std::invalid_argument for a class name registered already.
  void add(QCPlugInClass plugInClass);

  // Null for an unknown class.
  const QCPlugInClass* classNamed(const std::string& className) const;
  const std::deque<QCPlugInClass>& classes() const { return classes_; }

 private:
  std::deque<QCPlugInClass> classes_;  // deque: pointers to classes stay valid
};

}  // namespace wex
