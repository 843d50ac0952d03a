#include "host/PortTable.h"

#include <algorithm>

#include "host/PortConversion.h"

namespace wex {

bool PortTable::addPort(QCPortDirection direction, QCPortType type, const std::string& key,
                        const AttributeDictionary& attributes, bool isProperty) {
  std::lock_guard lock(mutex_);
  if (find(QCPortDirection::Input, key) || find(QCPortDirection::Output, key)) return false;
  Entry entry;
  entry.info.key = key;
  entry.info.direction = direction;
  entry.info.type = type;
  entry.info.attributes = attributes;
  entry.info.isProperty = isProperty;
  auto initial = attributes.find(QCPortAttributeDefaultValueKey);
  if (initial != attributes.end()) {
    if (auto converted = PortConversion::convert(initial->second, type, attributes)) {
      entry.info.value = *converted;
    }
  }
  auto& entries = direction == QCPortDirection::Input ? inputs_ : outputs_;
  auto position = entries.end();
  if (isProperty) {
    position = std::find_if(entries.begin(), entries.end(),
                            [](const Entry& existing) { return !existing.info.isProperty; });
  }
  entries.insert(position, std::move(entry));
  return true;
}

bool PortTable::removePort(QCPortDirection direction, const std::string& key) {
  std::lock_guard lock(mutex_);
  auto& entries = direction == QCPortDirection::Input ? inputs_ : outputs_;
  auto found = std::find_if(entries.begin(), entries.end(), [&](const Entry& entry) {
    return entry.info.key == key && !entry.info.isProperty;
  });
  if (found == entries.end()) return false;
  entries.erase(found);
  return true;
}

bool PortTable::hasPort(QCPortDirection direction, const std::string& key) const {
  std::lock_guard lock(mutex_);
  return find(direction, key) != nullptr;
}

std::optional<PortInfo> PortTable::port(QCPortDirection direction, const std::string& key) const {
  std::lock_guard lock(mutex_);
  const Entry* entry = find(direction, key);
  if (!entry) return std::nullopt;
  return entry->info;
}

std::vector<PortInfo> PortTable::ports(QCPortDirection direction) const {
  std::lock_guard lock(mutex_);
  const auto& entries = direction == QCPortDirection::Input ? inputs_ : outputs_;
  std::vector<PortInfo> result;
  result.reserve(entries.size());
  for (const auto& entry : entries) result.push_back(entry.info);
  return result;
}

Value PortTable::inputValue(const std::string& key) const {
  std::lock_guard lock(mutex_);
  const Entry* entry = find(QCPortDirection::Input, key);
  return entry ? entry->info.value : Value();
}

PortTable::SetResult PortTable::setInputValue(const std::string& key, const Value& value) {
  std::lock_guard lock(mutex_);
  return setInputLocked(key, value, false);
}

PortTable::SetResult PortTable::updateInputValue(const std::string& key, const Value& value) {
  std::lock_guard lock(mutex_);
  return setInputLocked(key, value, true);
}

PortTable::SetResult PortTable::setInputLocked(const std::string& key, const Value& value,
                                               bool always) {
  Entry* entry = find(QCPortDirection::Input, key);
  if (!entry) return SetResult::NoSuchPort;
  auto converted = PortConversion::convert(value, entry->info.type, entry->info.attributes);
  if (!converted) return SetResult::WrongType;
  if (!always && *converted == entry->info.value) return SetResult::Unchanged;
  entry->info.value = std::move(*converted);
  ++entry->info.version;
  return SetResult::Changed;
}

PortTable::SetResult PortTable::setOutputValue(const std::string& key, const Value& value) {
  std::lock_guard lock(mutex_);
  Entry* entry = find(QCPortDirection::Output, key);
  if (!entry) return SetResult::NoSuchPort;
  auto converted = PortConversion::convert(value, entry->info.type, entry->info.attributes);
  if (!converted) return SetResult::WrongType;
  entry->info.value = std::move(*converted);
  ++entry->info.version;
  return SetResult::Changed;
}

bool PortTable::anyInputChangedSinceExecution() const {
  std::lock_guard lock(mutex_);
  if (!executed_) return true;
  return std::any_of(inputs_.begin(), inputs_.end(),
                     [](const Entry& entry) { return entry.info.version != entry.seenVersion; });
}

void PortTable::beginExecution() {
  std::lock_guard lock(mutex_);
  for (auto& entry : inputs_) {
    entry.changedThisExecution = !executed_ || entry.info.version != entry.seenVersion;
    entry.seenVersion = entry.info.version;
  }
  executed_ = true;
}

bool PortTable::inputChanged(const std::string& key) const {
  std::lock_guard lock(mutex_);
  const Entry* entry = find(QCPortDirection::Input, key);
  return entry && entry->changedThisExecution;
}

bool PortTable::hasExecuted() const {
  std::lock_guard lock(mutex_);
  return executed_;
}

PortTable::Entry* PortTable::find(QCPortDirection direction, const std::string& key) {
  auto& entries = direction == QCPortDirection::Input ? inputs_ : outputs_;
  for (auto& entry : entries) {
    if (entry.info.key == key) return &entry;
  }
  return nullptr;
}

const PortTable::Entry* PortTable::find(QCPortDirection direction, const std::string& key) const {
  return const_cast<PortTable*>(this)->find(direction, key);
}

}  // namespace wex
