#pragma once

#include <string>
#include <utility>

namespace wex {

// A column of a panel's table: text, or a tick box (1 ticked, 0 not).
class TableColumn {
 public:
  enum class Kind { Text, CheckBox };

  TableColumn(std::string identifier, std::string title, Kind kind, bool editable)
      : identifier_(std::move(identifier)),
        title_(std::move(title)),
        kind_(kind),
        editable_(editable) {}

  const std::string& identifier() const { return identifier_; }
  const std::string& title() const { return title_; }
  Kind kind() const { return kind_; }
  bool editable() const { return editable_; }

 private:
  std::string identifier_;
  std::string title_;
  Kind kind_;
  bool editable_;
};

}  // namespace wex
