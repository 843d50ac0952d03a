#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace wex {

class QCPlugIn;

// A number field of a settings panel bound to one of the patch's settings:
// it shows the setting's getter and a user's entry goes through its setter,
// kept within the control's range.
class NumberControl {
 public:
  NumberControl(QCPlugIn& plugIn, std::string name, std::string title, std::string settingKey,
                uint64_t minimum, uint64_t maximum)
      : plugIn_(plugIn),
        name_(std::move(name)),
        title_(std::move(title)),
        settingKey_(std::move(settingKey)),
        minimum_(minimum),
        maximum_(maximum) {}

  const std::string& name() const { return name_; }
  const std::string& title() const { return title_; }
  const std::string& settingKey() const { return settingKey_; }
  uint64_t minimum() const { return minimum_; }
  uint64_t maximum() const { return maximum_; }

  uint64_t value() const;
  // A user's entry: clamped to the range, then handed to the setter.
  void userSetValue(uint64_t value);

 private:
  QCPlugIn& plugIn_;
  std::string name_;
  std::string title_;
  std::string settingKey_;
  uint64_t minimum_;
  uint64_t maximum_;
};

}  // namespace wex
