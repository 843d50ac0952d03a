#include "host/NumberControl.h"

#include <algorithm>

#include "host/QCPlugIn.h"

namespace wex {

uint64_t NumberControl::value() const {
  const Value value = plugIn_.valueForSetting(settingKey_);
  if (value.isIndex()) return value.asIndex();
  const double number = value.toDouble();
  return number > 0.0 ? static_cast<uint64_t>(number) : 0;
}

void NumberControl::userSetValue(uint64_t value) {
  plugIn_.setValueForSetting(Value::index(std::clamp(value, minimum_, maximum_)), settingKey_);
}

}  // namespace wex
