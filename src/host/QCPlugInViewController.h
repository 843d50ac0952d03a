#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "host/NumberControl.h"
#include "host/PanelSwitch.h"
#include "host/TableView.h"
#include "host/Value.h"

namespace wex {

class QCPlugIn;

// A settings panel as data. The host owns it (and makes, uses and destroys it
// on the main thread); the patch outlives it. Its tables, switches and number
// controls come from the layout registered under its panel name and from what
// a subclass adds in its constructor; a subclass answers the table data-source
// operations for its tables.
class QCPlugInViewController {
 public:
  QCPlugInViewController(QCPlugIn& plugIn, std::string viewNibName);
  virtual ~QCPlugInViewController();
  QCPlugInViewController(const QCPlugInViewController&) = delete;
  QCPlugInViewController& operator=(const QCPlugInViewController&) = delete;

  QCPlugIn& plugIn() const { return plugIn_; }
  const std::string& viewNibName() const { return viewNibName_; }

  // Table data source. The defaults: no rows, no values, edits ignored.
  virtual size_t numberOfRowsInTableView(const TableView& table);
  virtual Value tableViewObjectValueForTableColumn(const TableView& table,
                                                   const TableColumn& column, size_t row);
  virtual void tableViewSetObjectValue(const TableView& table, const Value& value,
                                       const TableColumn& column, size_t row);

  const std::vector<std::unique_ptr<TableView>>& tableViews() const { return tables_; }
  const std::vector<std::unique_ptr<PanelSwitch>>& switches() const { return switches_; }
  const std::vector<std::unique_ptr<NumberControl>>& numberControls() const { return numbers_; }
  // Null when the panel has none of that name.
  TableView* tableViewNamed(const std::string& name) const;
  PanelSwitch* switchNamed(const std::string& name) const;
  NumberControl* numberControlNamed(const std::string& name) const;

 protected:
  TableView& addTableView(std::string name, std::vector<TableColumn> columns);
  PanelSwitch& addSwitch(std::string name, std::string title, PanelSwitch::Action action);
  NumberControl& addNumberControl(std::string name, std::string title, std::string settingKey,
                                  uint64_t minimum, uint64_t maximum);

 private:
  QCPlugIn& plugIn_;
  std::string viewNibName_;
  std::vector<std::unique_ptr<TableView>> tables_;
  std::vector<std::unique_ptr<PanelSwitch>> switches_;
  std::vector<std::unique_ptr<NumberControl>> numbers_;
};

}  // namespace wex
