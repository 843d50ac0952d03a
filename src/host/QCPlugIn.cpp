#include "host/QCPlugIn.h"

#include "host/PortConversion.h"
#include "host/QCPlugInHost.h"
#include "host/QCPlugInViewController.h"
#include "host/QuotedText.h"

namespace wex {

QCPlugIn::QCPlugIn() = default;
QCPlugIn::~QCPlugIn() = default;

bool QCPlugIn::startExecution(QCPlugInContext&) {
  return true;
}
void QCPlugIn::enableExecution(QCPlugInContext&) {}
void QCPlugIn::disableExecution(QCPlugInContext&) {}
void QCPlugIn::stopExecution(QCPlugInContext&) {}

Value QCPlugIn::serializedValueForKey(const std::string& key) {
  return valueForSetting(key);
}

void QCPlugIn::setSerializedValue(const Value& value, const std::string& key) {
  setValueForSetting(value, key);
}

std::unique_ptr<QCPlugInViewController> QCPlugIn::createViewController() {
  return nullptr;
}

void QCPlugIn::addInputPortWithType(QCPortType type, const std::string& key,
                                    const AttributeDictionary& attributes) {
  addPort(QCPortDirection::Input, type, key, attributes);
}

void QCPlugIn::addOutputPortWithType(QCPortType type, const std::string& key,
                                     const AttributeDictionary& attributes) {
  addPort(QCPortDirection::Output, type, key, attributes);
}

void QCPlugIn::addPort(QCPortDirection direction, QCPortType type, const std::string& key,
                       const AttributeDictionary& attributes) {
  if (key.empty()) throw QCPlugInHostException("a port needs a key");
  if (key.find('.') != std::string::npos) {
    throw QCPlugInHostException("port key " + QuotedText::of(key) + " holds a '.'");
  }
  if (!ports_.addPort(direction, type, key, attributes, false)) {
    throw QCPlugInHostException("a port with the key " + QuotedText::of(key) + " exists already");
  }
}

void QCPlugIn::removeInputPortForKey(const std::string& key) {
  removePort(QCPortDirection::Input, key);
}

void QCPlugIn::removeOutputPortForKey(const std::string& key) {
  removePort(QCPortDirection::Output, key);
}

void QCPlugIn::removePort(QCPortDirection direction, const std::string& key) {
  if (!ports_.removePort(direction, key)) {
    throw QCPlugInHostException(
        "there is no added " +
        std::string(direction == QCPortDirection::Input ? "input" : "output") + " port " +
        QuotedText::of(key));
  }
  std::lock_guard lock(hostMutex_);
  if (host_) host_->plugInDidRemovePort(*this, direction, key);
}

Value QCPlugIn::valueForInputKey(const std::string& key) const {
  return ports_.inputValue(key);
}

void QCPlugIn::setValueForOutputKey(const Value& value, const std::string& key) {
  switch (ports_.setOutputValue(key, value)) {
    case PortTable::SetResult::NoSuchPort:
      throw QCPlugInHostException("there is no output port " + QuotedText::of(key));
    case PortTable::SetResult::WrongType:
      throw QCPlugInHostException("output port " + QuotedText::of(key) + " does not take " +
                                  Value::typeNameWithArticle(value.type()));
    default:
      break;
  }
}

bool QCPlugIn::didValueForInputKeyChange(const std::string& key) const {
  return ports_.inputChanged(key);
}

void QCPlugIn::requestEvaluation() {
  std::lock_guard lock(hostMutex_);
  if (host_) host_->plugInRequestsEvaluation(*this);
}

void QCPlugIn::setHost(QCPlugInHost* host) {
  std::lock_guard lock(hostMutex_);
  host_ = host;
}

void QCPlugIn::bindSetting(const std::string& key, Value::Type type, std::function<Value()> getter,
                           std::function<void(const Value&)> setter) {
  settings_[key] = SettingBinding{type, std::move(getter), std::move(setter)};
}

bool QCPlugIn::hasSetting(const std::string& key) const {
  return settings_.count(key) != 0;
}

const QCPlugIn::SettingBinding& QCPlugIn::binding(const std::string& key) const {
  auto found = settings_.find(key);
  if (found == settings_.end()) {
    throw QCPlugInHostException(QuotedText::of(key) + " is not a setting of this patch");
  }
  return found->second;
}

Value QCPlugIn::valueForSetting(const std::string& key) const {
  return binding(key).getter();
}

void QCPlugIn::setValueForSetting(const Value& value, const std::string& key) {
  const SettingBinding& setting = binding(key);
  Value converted = value;
  if (value.type() != setting.type) {
    const bool numeric = value.isNumeric() && (setting.type == Value::Type::Boolean ||
                                               setting.type == Value::Type::Index ||
                                               setting.type == Value::Type::Number);
    if (!numeric) {
      throw QCPlugInHostException(std::string("setting \"") + key + "\" takes " +
                                  Value::typeNameWithArticle(setting.type) + ", not " +
                                  Value::typeNameWithArticle(value.type()));
    }
    const QCPortType portType = setting.type == Value::Type::Boolean ? QCPortType::Boolean
                                : setting.type == Value::Type::Index ? QCPortType::Index
                                                                     : QCPortType::Number;
    converted = *PortConversion::convert(value, portType, {});
  }
  setting.setter(converted);
}

}  // namespace wex
