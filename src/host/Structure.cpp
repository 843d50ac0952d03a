#include "host/Structure.h"

namespace wex {

std::shared_ptr<const Structure> Structure::makeList(std::vector<Value> values) {
  auto structure = std::shared_ptr<Structure>(new Structure());
  structure->ordered_ = true;
  structure->values_ = std::move(values);
  return structure;
}

std::shared_ptr<const Structure> Structure::makeMap(
    std::vector<std::pair<std::string, Value>> entries) {
  auto structure = std::shared_ptr<Structure>(new Structure());
  structure->ordered_ = false;
  for (auto& [key, value] : entries) {
    auto found = structure->keyIndex_.find(key);
    if (found != structure->keyIndex_.end()) {
      structure->entries_[found->second].second = std::move(value);  // a later key wins
      continue;
    }
    structure->keyIndex_.emplace(key, structure->entries_.size());
    structure->entries_.emplace_back(std::move(key), std::move(value));
  }
  return structure;
}

const Value* Structure::at(size_t position) const {
  return ordered_ && position < values_.size() ? &values_[position] : nullptr;
}

const Value* Structure::find(const std::string& key) const {
  if (ordered_) return nullptr;
  auto found = keyIndex_.find(key);
  return found == keyIndex_.end() ? nullptr : &entries_[found->second].second;
}

bool Structure::operator==(const Structure& other) const {
  return ordered_ == other.ordered_ && values_ == other.values_ && entries_ == other.entries_;
}

}  // namespace wex
