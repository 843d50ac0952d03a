#include "patches/EndpointSettingsController.h"

#include "host/PanelLayouts.h"
#include "patches/PanelCellValue.h"

namespace wex {

namespace {

std::vector<TableColumn> endpointColumns() {
  return {
      TableColumn(EndpointSettingsController::kNameColumn, "Name", TableColumn::Kind::Text, false),
      TableColumn(EndpointSettingsController::kEnableColumn, "Enabled", TableColumn::Kind::CheckBox,
                  true)};
}

}  // namespace

void EndpointSettingsController::registerLayout(const std::string& panelName,
                                                const std::string& tableName) {
  PanelLayout layout;
  layout.tables.push_back(PanelLayout::Table{tableName, endpointColumns()});
  PanelLayouts::registerLayout(panelName, std::move(layout));
}

EndpointSettingsController::EndpointSettingsController(QCPlugIn& plugIn, std::string viewNibName,
                                                       const std::string& tableName,
                                                       MutLockArray<OrvMIDINode>& nodes)
    : QCPlugInViewController(plugIn, std::move(viewNibName)), nodes_(nodes) {
  tableView_ = tableViewNamed(tableName);
  // Without its layout the panel still needs its table.
  if (!tableView_) tableView_ = &addTableView(tableName, endpointColumns());
  nameColumn_ = tableView_->columnWithIdentifier(kNameColumn);
  enableColumn_ = tableView_->columnWithIdentifier(kEnableColumn);
}

size_t EndpointSettingsController::numberOfRowsInTableView(const TableView& table) {
  return &table == tableView_ ? nodes_.count() : 0;
}

Value EndpointSettingsController::tableViewObjectValueForTableColumn(const TableView& table,
                                                                     const TableColumn& column,
                                                                     size_t row) {
  if (&table != tableView_) return Value();
  auto node = nodes_.lockObjectAtIndex(row);
  if (!node) return Value();
  if (column.identifier() == kNameColumn)
    return node->name() ? Value::string(*node->name()) : Value();
  if (column.identifier() == kEnableColumn) return panelTick(node->enabled());
  return Value();
}

void EndpointSettingsController::tableViewSetObjectValue(const TableView& table, const Value& value,
                                                         const TableColumn& column, size_t row) {
  if (&table != tableView_ || column.identifier() != kEnableColumn) return;
  auto node = nodes_.lockObjectAtIndex(row);
  if (node) node->setEnabled(panelIntegerReading(value) == 1);
}

}  // namespace wex
