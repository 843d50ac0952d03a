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
  ++layout_;
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
  ++layout_;
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
  return setInputLocked(find(QCPortDirection::Input, key), value, false);
}

PortTable::SetResult PortTable::updateInputValue(const std::string& key, const Value& value) {
  std::lock_guard lock(mutex_);
  return setInputLocked(find(QCPortDirection::Input, key), value, true);
}

PortTable::SetResult PortTable::setInputLocked(Entry* entry, const Value& value, bool always) {
  if (!entry) return SetResult::NoSuchPort;
  auto converted = PortConversion::convert(value, entry->info.type, entry->info.attributes);
  if (!converted) return SetResult::WrongType;
  if (!always && *converted == entry->info.value) return SetResult::Unchanged;
  entry->info.value = std::move(*converted);
  ++entry->info.version;
  inputChanges_.fetch_add(1, std::memory_order_release);
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
  outputAssignments_.fetch_add(1, std::memory_order_release);
  return SetResult::Changed;
}

bool PortTable::takeOutput(Slot& output, uint64_t* taken, Value* value) {
  std::lock_guard lock(mutex_);
  const Entry* entry = resolve(QCPortDirection::Output, output);
  if (!entry || entry->info.version == 0 || entry->info.version == *taken) return false;
  *taken = entry->info.version;
  *value = entry->info.value;
  return true;
}

PortTable::SetResult PortTable::updateInput(Slot& input, const Value& value) {
  std::lock_guard lock(mutex_);
  return setInputLocked(resolve(QCPortDirection::Input, input), value, true);
}

PortTable::Entry* PortTable::resolve(QCPortDirection direction, Slot& slot) {
  auto& entries = direction == QCPortDirection::Input ? inputs_ : outputs_;
  if (slot.layout != layout_) {
    slot.layout = layout_;
    slot.index = kNoPort;
    for (size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].info.key == slot.key) slot.index = i;
    }
  }
  return slot.index == kNoPort ? nullptr : &entries[slot.index];
}

bool PortTable::anyInputChangedSinceExecution() const {
  if (inputChanges_.load(std::memory_order_acquire) ==
      inputChangesSeen_.load(std::memory_order_acquire)) {
    return false;
  }
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
  inputChangesSeen_.store(inputChanges_.load(std::memory_order_relaxed), std::memory_order_release);
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
