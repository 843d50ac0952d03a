#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "host/QCPlugIn.h"
#include "host/QCPlugInTypes.h"
#include "host/Structure.h"
#include "host/Value.h"

namespace wex {

// A structure on a port: null when the port holds none.
using QCStructure = std::shared_ptr<const Structure>;

// The C++ type of a property port and its port type.
template <typename T>
struct QCPortValueTraits;

template <>
struct QCPortValueTraits<bool> {
  static constexpr QCPortType type = QCPortType::Boolean;
  static bool from(const Value& value) { return value.toDouble() != 0.0; }
  static Value to(bool value) { return Value::boolean(value); }
};

template <>
struct QCPortValueTraits<uint64_t> {
  static constexpr QCPortType type = QCPortType::Index;
  static uint64_t from(const Value& value) { return value.isIndex() ? value.asIndex() : 0; }
  static Value to(uint64_t value) { return Value::index(value); }
};

template <>
struct QCPortValueTraits<double> {
  static constexpr QCPortType type = QCPortType::Number;
  static double from(const Value& value) { return value.toDouble(); }
  static Value to(double value) { return Value::number(value); }
};

template <>
struct QCPortValueTraits<std::string> {
  static constexpr QCPortType type = QCPortType::String;
  static std::string from(const Value& value) {
    return value.isString() ? value.asString() : std::string();
  }
  static Value to(const std::string& value) { return Value::string(value); }
};

template <>
struct QCPortValueTraits<QCStructure> {
  static constexpr QCPortType type = QCPortType::Structure;
  static QCStructure from(const Value& value) {
    return value.isStructure() ? value.asStructure() : nullptr;
  }
  static Value to(const QCStructure& value) { return Value::structure(value); }
};

// A property input as a typed member of the patch: `inputChannel()` reads
// the port's current value. The port itself is declared at class level
// (propertyPorts) and made by the host.
template <typename T>
class QCInputPort {
 public:
  using Traits = QCPortValueTraits<T>;
  QCInputPort(QCPlugIn& plugIn, std::string key) : plugIn_(plugIn), key_(std::move(key)) {}
  QCInputPort(const QCInputPort&) = delete;
  QCInputPort& operator=(const QCInputPort&) = delete;

  T operator()() const { return Traits::from(plugIn_.valueForInputKey(key_)); }
  const std::string& key() const { return key_; }

 private:
  QCPlugIn& plugIn_;
  std::string key_;
};

// A property output as a typed member: `outputMessage = 5;` sets the port.
template <typename T>
class QCOutputPort {
 public:
  using Traits = QCPortValueTraits<T>;
  QCOutputPort(QCPlugIn& plugIn, std::string key) : plugIn_(plugIn), key_(std::move(key)) {}
  QCOutputPort(const QCOutputPort&) = delete;

  QCOutputPort& operator=(const T& value) {
    set(value);
    return *this;
  }
  void set(const T& value) { plugIn_.setValueForOutputKey(Traits::to(value), key_); }
  const std::string& key() const { return key_; }

 private:
  QCPlugIn& plugIn_;
  std::string key_;
};

}  // namespace wex
