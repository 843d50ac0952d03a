#include "server/EndpointChooser.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "host/QCPlugInViewController.h"
#include "patches/EndpointSettingsController.h"

namespace wex {

namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string quotedList(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "\"" : ", \"") + name + "\"";
  return text.empty() ? "none" : text;
}

}  // namespace

std::vector<size_t> EndpointChooser::match(const std::vector<std::string>& names,
                                           const std::string& wanted, const std::string& kind,
                                           std::string* reason) {
  std::vector<size_t> rows;
  for (size_t row = 0; row < names.size(); ++row) {
    if (names[row] == wanted) rows.push_back(row);
  }
  if (!rows.empty()) return rows;
  const std::string part = lowered(wanted);
  std::vector<std::string> candidates;
  for (size_t row = 0; row < names.size(); ++row) {
    if (!part.empty() && lowered(names[row]).find(part) != std::string::npos) {
      rows.push_back(row);
      candidates.push_back(names[row]);
    }
  }
  if (rows.size() == 1) return rows;
  if (rows.empty()) {
    *reason =
        "no " + kind + " is named \"" + wanted + "\"; the " + kind + "s are " + quotedList(names);
  } else {
    *reason = "\"" + wanted + "\" matches several " + kind + "s: " + quotedList(candidates);
  }
  return {};
}

std::vector<std::string> EndpointChooser::names(QCPlugInViewController& panel) {
  std::vector<std::string> names;
  if (panel.tableViews().empty()) return names;
  const TableView& table = *panel.tableViews().front();
  const TableColumn* nameColumn =
      table.columnWithIdentifier(EndpointSettingsController::kNameColumn);
  if (!nameColumn) return names;
  const size_t rows = panel.numberOfRowsInTableView(table);
  for (size_t row = 0; row < rows; ++row) {
    const Value name = panel.tableViewObjectValueForTableColumn(table, *nameColumn, row);
    names.push_back(name.isString() ? name.asString() : std::string());
  }
  return names;
}

bool EndpointChooser::choose(QCPlugInViewController& panel, const std::vector<std::string>& wanted,
                             const std::string& kind, std::vector<std::string>* chosen,
                             std::string* reason) {
  if (panel.tableViews().empty()) {
    *reason = "panel " + panel.viewNibName() + " has no table";
    return false;
  }
  const TableView& table = *panel.tableViews().front();
  const TableColumn* nameColumn =
      table.columnWithIdentifier(EndpointSettingsController::kNameColumn);
  const TableColumn* enableColumn =
      table.columnWithIdentifier(EndpointSettingsController::kEnableColumn);
  if (!nameColumn || !enableColumn) {
    *reason = "panel " + panel.viewNibName() + " lists no endpoints";
    return false;
  }
  const std::vector<std::string> names = EndpointChooser::names(panel);
  const size_t rows = names.size();
  std::set<size_t> ticked;
  for (const auto& name : wanted) {
    const auto matched = match(names, name, kind, reason);
    if (matched.empty()) return false;
    ticked.insert(matched.begin(), matched.end());
  }
  chosen->clear();
  for (size_t row = 0; row < rows; ++row) {
    const bool on = wanted.empty() || ticked.count(row) != 0;
    panel.tableViewSetObjectValue(table, Value::index(on ? 1 : 0), *enableColumn, row);
    if (on) chosen->push_back(names[row]);
  }
  return true;
}

}  // namespace wex
