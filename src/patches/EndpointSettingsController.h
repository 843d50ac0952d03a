#pragma once

#include <cstddef>
#include <string>

#include "host/QCPlugInViewController.h"
#include "host/TableColumn.h"
#include "host/TableView.h"
#include "midi/OrvMIDINode.h"
#include "support/MutLockArray.h"

namespace wex {

// A panel with one table of endpoint nodes: a name column and a tick box per
// node for its enabled flag. The receiver's and the sender's panels are made
// of it; the nodes' list belongs to their manager, which outlives the panel.
class EndpointSettingsController : public QCPlugInViewController {
 public:
  static constexpr const char* kNameColumn = "name";
  static constexpr const char* kEnableColumn = "enabled";

  // The layout of a panel with one such table.
  static void registerLayout(const std::string& panelName, const std::string& tableName);

  size_t numberOfRowsInTableView(const TableView& table) override;
  Value tableViewObjectValueForTableColumn(const TableView& table, const TableColumn& column,
                                           size_t row) override;
  void tableViewSetObjectValue(const TableView& table, const Value& value,
                               const TableColumn& column, size_t row) override;

 protected:
  EndpointSettingsController(QCPlugIn& plugIn, std::string viewNibName,
                             const std::string& tableName, MutLockArray<OrvMIDINode>& nodes);

  TableView* endpointsTableView() const { return tableView_; }
  const TableColumn* endpointsNameColumn() const { return nameColumn_; }
  const TableColumn* endpointsEnableColumn() const { return enableColumn_; }

 private:
  MutLockArray<OrvMIDINode>& nodes_;
  TableView* tableView_ = nullptr;
  const TableColumn* nameColumn_ = nullptr;
  const TableColumn* enableColumn_ = nullptr;
};

}  // namespace wex
