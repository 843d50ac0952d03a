#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "host/TableColumn.h"

namespace wex {

// A table of a settings panel. It holds no data: whoever draws it asks the
// controller (its data source) for the rows and the cells.
class TableView {
 public:
  TableView(std::string name, std::vector<TableColumn> columns);

  const std::string& name() const { return name_; }
  const std::vector<TableColumn>& columns() const { return columns_; }
  // Null for an unknown identifier.
  const TableColumn* columnWithIdentifier(const std::string& identifier) const;
  // The first editable tick-box column, or null.
  const TableColumn* firstCheckBoxColumn() const;

  // Asks whoever shows the table to fetch its contents again.
  void reloadData() { reloads_.fetch_add(1); }
  int reloadCount() const { return reloads_.load(); }

 private:
  std::string name_;
  std::vector<TableColumn> columns_;
  std::atomic<int> reloads_{0};
};

}  // namespace wex
