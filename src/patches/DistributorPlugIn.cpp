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

std::vector<QCPropertyPortDeclaration> DistributorPlugIn::inputPropertyPorts() {
  return {{"inputMessages", QCPortTypeStructure}, {"inputChannel", QCPortTypeIndex}};
}

std::optional<AttributeDictionary> DistributorPlugIn::inputPortAttributes(const std::string& key) {
  if (key == "inputMessages") {
    return AttributeDictionary{{QCPortAttributeNameKey, Value::string("Messages")}};
  }
  if (key == "inputChannel") {
    return AttributeDictionary{{QCPortAttributeNameKey, Value::string("Channel")},
                               {QCPortAttributeDefaultValueKey, Value::index(0)},
                               {QCPortAttributeMaximumValueKey, Value::index(15)}};
  }
  return std::nullopt;
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

std::vector<int> DistributorPlugIn::learnedSoFar() const {
  std::lock_guard lock(lock_);
  if (!learnMessages_ || !learnedMessages_) return {};
  return {learnedMessages_->begin(), learnedMessages_->end()};
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
    } catch (const std::out_of_range&) {
      // The number lies beyond the end of a short restored list.
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
  std::lock_guard lock(lock_);
  reconcileLocked(list);
}

// The list is kept whatever its length. Each true entry gets its ports, and a
// number whose entry is false (or that lies beyond the end of a short list)
// loses the ports it has, such as those the constructor made for number 0, so
// the list and the ports agree afterwards.
void DistributorPlugIn::reconcileLocked(const std::vector<bool>& list) {
  ports_ = list;
  const size_t numbers = std::max(list.size(), static_cast<size_t>(kNumberCount));
  for (size_t n = 0; n < numbers; ++n) {
    const bool wanted = n < list.size() && list[n];
    const bool has = hasPortsFor(static_cast<int>(n));
    try {
      if (wanted && !has) addPortsFor(static_cast<int>(n));
      if (!wanted && has) removePortsFor(static_cast<int>(n));
    } catch (const QCPlugInHostException&) {
    }
  }
}

Value DistributorPlugIn::enableListValue() const {
  std::vector<Value> values;
  for (bool enabled : enableList()) values.push_back(Value::boolean(enabled));
  return Value::structure(Structure::makeList(std::move(values)));
}

// A saved list of any length; each entry by its boolean value (a number is
// true when it is not zero). Anything else is refused, naming patch and key.
std::vector<bool> DistributorPlugIn::enableListFromValue(const Value& value) const {
  const std::string refusal =
      className_ + " \"" + settingKey_ + "\": expected a list of booleans, got ";
  if (!value.isStructure() || !value.asStructure()->isOrdered()) {
    throw QCPlugInHostException(refusal + Value::typeNameWithArticle(value.type()));
  }
  const auto& values = value.asStructure()->values();
  std::vector<bool> list;
  list.reserve(values.size());
  for (size_t n = 0; n < values.size(); ++n) {
    if (!values[n].isNumeric()) {
      throw QCPlugInHostException(refusal + Value::typeNameWithArticle(values[n].type()) +
                                  " at index " + std::to_string(n));
    }
    list.push_back(values[n].toDouble() != 0);
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
