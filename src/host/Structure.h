#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/Value.h"

namespace wex {

// A structure value: either an ordered list of values, or a keyed map of
// values (keys in insertion order). Immutable once built; shared by pointer.
class Structure {
 public:
  static std::shared_ptr<const Structure> makeList(std::vector<Value> values);
  static std::shared_ptr<const Structure> makeMap(
      std::vector<std::pair<std::string, Value>> entries);

  bool isOrdered() const { return ordered_; }
  bool isKeyed() const { return !ordered_; }
  size_t count() const { return ordered_ ? values_.size() : entries_.size(); }

  // Ordered: the value at the position, or null past the end.
  const Value* at(size_t position) const;
  // Keyed: the value under the key, or null when missing.
  const Value* find(const std::string& key) const;

  const std::vector<Value>& values() const { return values_; }
  const std::vector<std::pair<std::string, Value>>& entries() const { return entries_; }

  bool operator==(const Structure& other) const;

 private:
  Structure() = default;

  bool ordered_ = true;
  std::vector<Value> values_;
  std::vector<std::pair<std::string, Value>> entries_;
  std::unordered_map<std::string, size_t> keyIndex_;
};

}  // namespace wex
