#include "server/PanelView.h"

#include <sstream>

#include "patches/DistributorPlugIn.h"

namespace wex {

namespace {

using Json = ValueJSON::Json;

const TableView* checkBoxTable(QCPlugInViewController& panel) {
  for (const auto& table : panel.tableViews()) {
    if (table->firstCheckBoxColumn()) return table.get();
  }
  return nullptr;
}

std::string cellText(const Value& value, const TableColumn& column) {
  if (column.kind() == TableColumn::Kind::CheckBox) {
    return value.toDouble() == 1.0 ? "[x]" : "[ ]";
  }
  if (value.isString()) return value.asString();
  if (value.isNone()) return "";
  return ValueJSON::toJSON(value).dump();
}

}  // namespace

Json PanelView::describe(QCPlugInViewController& panel, const std::string& id) {
  Json result = Json::object();
  result["id"] = id;
  result["panel"] = panel.viewNibName();
  Json tables = Json::array();
  for (const auto& table : panel.tableViews()) {
    Json columns = Json::array();
    for (const auto& column : table->columns()) {
      columns.push_back(
          Json{{"identifier", column.identifier()},
               {"title", column.title()},
               {"kind", column.kind() == TableColumn::Kind::CheckBox ? "checkbox" : "text"},
               {"editable", column.editable()}});
    }
    Json rows = Json::array();
    const size_t count = panel.numberOfRowsInTableView(*table);
    for (size_t row = 0; row < count; ++row) {
      Json cells = Json::array();
      for (const auto& column : table->columns()) {
        cells.push_back(
            ValueJSON::toJSON(panel.tableViewObjectValueForTableColumn(*table, column, row)));
      }
      rows.push_back(cells);
    }
    tables.push_back(Json{{"name", table->name()}, {"columns", columns}, {"rows", rows}});
  }
  result["tables"] = tables;
  Json switches = Json::array();
  for (const auto& control : panel.switches()) {
    switches.push_back(Json{{"name", control->name()},
                            {"title", control->title()},
                            {"state", control->state() ? "on" : "off"}});
  }
  result["switches"] = switches;
  Json numbers = Json::array();
  for (const auto& control : panel.numberControls()) {
    numbers.push_back(Json{{"name", control->name()},
                           {"title", control->title()},
                           {"setting", control->settingKey()},
                           {"value", control->value()},
                           {"minimum", control->minimum()},
                           {"maximum", control->maximum()}});
  }
  result["numbers"] = numbers;
  // A distributor's panel shows what it has learned while it learns.
  if (const auto* distributor = dynamic_cast<const DistributorPlugIn*>(&panel.plugIn())) {
    if (distributor->learnMessages()) result["learned"] = distributor->learnedSoFar();
  }
  return result;
}

std::string PanelView::text(QCPlugInViewController& panel, const std::string& id) {
  std::ostringstream out;
  out << "Panel " << panel.viewNibName() << " of " << id << "\n";
  for (const auto& control : panel.numberControls()) {
    out << "  " << control->title() << " [" << control->name() << "]: " << control->value() << " ("
        << control->minimum() << " to " << control->maximum() << ")\n";
  }
  for (const auto& control : panel.switches()) {
    out << "  " << control->title() << " [" << control->name()
        << "]: " << (control->state() ? "on" : "off") << "\n";
  }
  for (const auto& table : panel.tableViews()) {
    out << "  Table " << table->name() << ":\n   ";
    for (const auto& column : table->columns()) out << " " << column.title() << "\t";
    out << "\n";
    const size_t count = panel.numberOfRowsInTableView(*table);
    for (size_t row = 0; row < count; ++row) {
      out << "   ";
      for (const auto& column : table->columns()) {
        out << " "
            << cellText(panel.tableViewObjectValueForTableColumn(*table, column, row), column)
            << "\t";
      }
      out << "\n";
    }
  }
  return out.str();
}

bool PanelView::tick(QCPlugInViewController& panel, uint64_t row, bool on, std::string* reason) {
  const TableView* table = checkBoxTable(panel);
  if (!table) {
    *reason = "panel " + panel.viewNibName() + " has no table with tick boxes";
    return false;
  }
  const size_t rows = panel.numberOfRowsInTableView(*table);
  if (row >= rows) {
    *reason = "row " + std::to_string(row) + " is beyond the " + std::to_string(rows) +
              " rows of table " + table->name();
    return false;
  }
  panel.tableViewSetObjectValue(*table, Value::index(on ? 1 : 0), *table->firstCheckBoxColumn(),
                                row);
  return true;
}

bool PanelView::setSwitch(QCPlugInViewController& panel, const std::string& name, bool on,
                          std::string* reason) {
  PanelSwitch* control = panel.switchNamed(name);
  if (!control) {
    *reason = "panel " + panel.viewNibName() + " has no switch \"" + name + "\"";
    return false;
  }
  control->userSetState(on);
  return true;
}

bool PanelView::setNumber(QCPlugInViewController& panel, const std::string& name, uint64_t value,
                          std::string* reason) {
  NumberControl* control = panel.numberControlNamed(name);
  if (!control) {
    *reason = "panel " + panel.viewNibName() + " has no number \"" + name + "\"";
    return false;
  }
  if (value < control->minimum() || value > control->maximum()) {
    *reason = "number \"" + name + "\" takes " + std::to_string(control->minimum()) + " to " +
              std::to_string(control->maximum());
    return false;
  }
  control->userSetValue(value);
  return true;
}

bool PanelView::parseState(const std::string& text, bool* on) {
  if (text == "on" || text == "true" || text == "1") {
    *on = true;
    return true;
  }
  if (text == "off" || text == "false" || text == "0") {
    *on = false;
    return true;
  }
  return false;
}

}  // namespace wex
