#include "host/TableView.h"

#include <utility>

namespace wex {

TableView::TableView(std::string name, std::vector<TableColumn> columns)
    : name_(std::move(name)), columns_(std::move(columns)) {}

const TableColumn* TableView::columnWithIdentifier(const std::string& identifier) const {
  for (const auto& column : columns_) {
    if (column.identifier() == identifier) return &column;
  }
  return nullptr;
}

const TableColumn* TableView::firstCheckBoxColumn() const {
  for (const auto& column : columns_) {
    if (column.kind() == TableColumn::Kind::CheckBox && column.editable()) return &column;
  }
  return nullptr;
}

}  // namespace wex
