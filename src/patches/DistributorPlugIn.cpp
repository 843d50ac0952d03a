#include "patches/DistributorPlugIn.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <stdexcept>

#include "host/Structure.h"

namespace wex {

namespace {

// A number's low 32 bits as a signed integer (a fraction dropped first).
int32_t low32(double number) {
  if (!std::isfinite(number)) return 0;
  const double wrapped = std::fmod(std::trunc(number), 4294967296.0);
  const auto bits = static_cast<int64_t>(wrapped < 0 ? wrapped + 4294967296.0 : wrapped);
  return static_cast<int32_t>(static_cast<uint32_t>(bits));
}

// The decimal integer at the start of a text, after white space and an
// optional sign; 0 when there is none; held to 32 signed bits.
int32_t leadingInteger(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t magnitude = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    magnitude = std::min<int64_t>(magnitude * 10 + (text[i] - '0'), int64_t{1} << 31);
  }
  const int64_t value = negative ? -magnitude : magnitude;
  return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

DistributorPlugIn::DistributorPlugIn(std::string className, std::string settingKey)
    : className_(std::move(className)), settingKey_(std::move(settingKey)) {
  bindSetting(
      settingKey_, Value::Type::Structure, [this] { return enableListValue(); },
      [this](const Value& value) { setEnableList(enableListFromValue(value)); });
}

void DistributorPlugIn::makeInitialPorts() {
  std::lock_guard lock(lock_);
  ports_.assign(kNumberCount, false);
  ports_[0] = true;
  try {
    addPortsFor(0);
  } catch (const QCPlugInHostException&) {
  }
}

bool DistributorPlugIn::learnMessages() const {
  std::lock_guard lock(lock_);
  return learnMessages_;
}

void DistributorPlugIn::setLearnMessages(bool learn) {
  std::lock_guard lock(lock_);
  learnMessages_ = learn;
  if (learn) {
    learnedMessages_.emplace();
    return;
  }
  if (!learnedMessages_) return;
  for (int n : *learnedMessages_) {
    try {
      enablePortLocked(n);
    } catch (const QCPlugInHostException&) {
      // The number had its ports already.
    }
  }
}

std::vector<bool> DistributorPlugIn::enableList() const {
  std::lock_guard lock(lock_);
  return ports_;
}

bool DistributorPlugIn::isEnabled(int n) const {
  std::lock_guard lock(lock_);
  return n >= 0 && static_cast<size_t>(n) < ports_.size() && ports_[n];
}

void DistributorPlugIn::enablePort(int n) {
  std::lock_guard lock(lock_);
  enablePortLocked(n);
}

void DistributorPlugIn::disablePort(int n) {
  std::lock_guard lock(lock_);
  disablePortLocked(n);
}

void DistributorPlugIn::enablePortLocked(int n) {
  if (n < 0 || static_cast<size_t>(n) >= ports_.size()) {
    throw std::out_of_range(className_ + ": number " + std::to_string(n) + " is not in the list");
  }
  ports_[n] = true;
  addPortsFor(n);
}

void DistributorPlugIn::disablePortLocked(int n) {
  if (n < 0 || static_cast<size_t>(n) >= ports_.size()) {
    throw std::out_of_range(className_ + ": number " + std::to_string(n) + " is not in the list");
  }
  ports_[n] = false;
  removePortsFor(n);
}

void DistributorPlugIn::setEnableList(const std::vector<bool>& list) {
  if (list.size() != kNumberCount) {
    throw QCPlugInHostException(className_ + " \"" + settingKey_ + "\": expected a list of " +
                                std::to_string(kNumberCount) + " booleans, got " +
                                std::to_string(list.size()) + " entries");
  }
  std::lock_guard lock(lock_);
  reconcileLocked(list);
}

// A number whose entry is false loses the ports it has (such as those the
// constructor made for number 0), so the list and the ports agree afterwards.
void DistributorPlugIn::reconcileLocked(const std::vector<bool>& list) {
  ports_ = list;
  for (int n = 0; n < kNumberCount; ++n) {
    const bool has = hasPortsFor(n);
    try {
      if (list[n] && !has) addPortsFor(n);
      if (!list[n] && has) removePortsFor(n);
    } catch (const QCPlugInHostException&) {
    }
  }
}

Value DistributorPlugIn::enableListValue() const {
  std::vector<Value> values;
  for (bool enabled : enableList()) values.push_back(Value::boolean(enabled));
  return Value::structure(Structure::makeList(std::move(values)));
}

std::vector<bool> DistributorPlugIn::enableListFromValue(const Value& value) const {
  const std::string refusal = className_ + " \"" + settingKey_ + "\": expected a list of " +
                              std::to_string(kNumberCount) + " booleans, got ";
  if (!value.isStructure() || !value.asStructure()->isOrdered()) {
    throw QCPlugInHostException(refusal + "a " + Value::typeName(value.type()));
  }
  const auto& values = value.asStructure()->values();
  if (values.size() != kNumberCount) {
    throw QCPlugInHostException(refusal + "a list of " + std::to_string(values.size()));
  }
  std::vector<bool> list;
  for (size_t n = 0; n < values.size(); ++n) {
    if (!values[n].isBoolean()) {
      throw QCPlugInHostException(refusal + "a " + Value::typeName(values[n].type()) +
                                  " at index " + std::to_string(n));
    }
    list.push_back(values[n].asBoolean());
  }
  return list;
}

void DistributorPlugIn::setSerializedValue(const Value& value, const std::string& key) {
  if (key == settingKey_) {
    // Checked here rather than by the host's type test, so the refusal names
    // the patch and the key whatever the value is.
    setEnableList(enableListFromValue(value));
    return;
  }
  QCPlugIn::setSerializedValue(value, key);
}

std::optional<int32_t> DistributorPlugIn::elementNumber(const Value& element, bool textsToo) {
  if (element.isIndex()) return static_cast<int32_t>(static_cast<uint32_t>(element.asIndex()));
  if (element.isNumeric()) return low32(element.toDouble());
  if (textsToo && element.isString()) return leadingInteger(element.asString());
  return std::nullopt;
}

void DistributorPlugIn::distribute(const QCStructure& messages, bool textsToo,
                                   const ElementHandler& handle) {
  if (!messages) return;
  std::lock_guard lock(lock_);
  auto each = [&](const Value& element) {
    if (auto number = elementNumber(element, textsToo)) handle(*number, learnMessages_);
  };
  if (messages->isOrdered()) {
    for (const Value& element : messages->values()) each(element);
  } else {
    for (const auto& entry : messages->entries()) each(entry.second);
  }
}

void DistributorPlugIn::learn(int n) {
  if (learnedMessages_) learnedMessages_->insert(n);
}

}  // namespace wex
