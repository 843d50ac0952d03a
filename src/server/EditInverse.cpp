#include "server/EditInverse.h"

#include "server/PanelView.h"

namespace wex {

namespace {

using Json = EditInverse::Json;

std::string text(const Json& command, const char* key) {
  return command.contains(key) && command[key].is_string() ? command[key].get<std::string>() : "";
}

// The output wired to an input, as "id.port"; empty when none is.
std::string sourceOf(const Composition& composition, const PortAddress& to) {
  for (const auto& connection : composition.connections()) {
    if (connection.to == to) return connection.from.text();
  }
  return "";
}

Json positionOf(const Composition& composition, const std::string& id) {
  const auto point = composition.positions().get(id);
  return point ? Json::array({point->x, point->y}) : Json();
}

}  // namespace

bool EditInverse::isEdit(const std::string& kind, const Json& command) {
  if (kind == "panel") {
    return command.contains("tick") || command.contains("untick") || command.contains("switch") ||
           command.contains("number");
  }
  return kind == "add" || kind == "remove" || kind == "connect" || kind == "disconnect" ||
         kind == "move" || kind == "set";
}

Json EditInverse::afterAdd(const std::string& id) {
  return Json::array({Json{{"remove", id}}});
}

// What is read here may be missing (a command naming no patch): the command
// itself is then refused and nothing is recorded.
Json EditInverse::before(Composition& composition, const std::string& kind, const Json& command) {
  Json undo = Json::array();
  PortAddress port;
  if (kind == "set") {
    if (!PortAddress::parse(text(command, "set"), &port) || !composition.patch(port.patchId)) {
      return undo;
    }
    const auto input =
        composition.patch(port.patchId)->portTable().port(QCPortDirection::Input, port.key);
    if (input && !input->value.isNone()) {
      undo.push_back(Json{{"set", port.text()}, {"value", ValueJSON::toJSON(input->value)}});
    }
  } else if (kind == "remove") {
    if (composition.patch(text(command, "remove"))) {
      undo = ofRemove(composition, text(command, "remove"));
    }
  } else if (kind == "connect" || kind == "disconnect") {
    if (!PortAddress::parse(text(command, kind == "connect" ? "to" : "disconnect"), &port)) {
      return undo;
    }
    const std::string from = sourceOf(composition, port);
    if (!from.empty()) {
      undo.push_back(Json{{"connect", from}, {"to", port.text()}});
      return undo;
    }
    // A wire sets the input as it flows: the value it had comes back too.
    undo.push_back(Json{{"disconnect", port.text()}});
    const Json value = before(composition, "set", Json{{"set", port.text()}});
    undo.insert(undo.end(), value.begin(), value.end());
  } else if (kind == "move") {
    const std::string id = text(command, "move");
    undo.push_back(Json{{"move", id}, {"position", positionOf(composition, id)}});
  } else if (kind == "panel") {
    undo = ofPanelEdit(composition, command);
  }
  return undo;
}

// The patch again with its settings, position, inputs and wires.
Json EditInverse::ofRemove(Composition& composition, const std::string& id) {
  auto plugIn = composition.patch(id);
  const QCPlugInClass& plugInClass = *composition.patchClass(id);
  Json add{{"add", plugInClass.className}, {"id", id}};
  const Json position = positionOf(composition, id);
  if (!position.is_null()) add["position"] = position;
  Json settings = Json::object();
  for (const auto& key : plugInClass.plugInKeys.value_or(std::vector<std::string>{})) {
    settings[key] = ValueJSON::toJSON(plugIn->serializedValueForKey(key));
  }
  if (!settings.empty()) add["settings"] = settings;
  Json undo = Json::array({add});
  for (const auto& input : plugIn->portTable().ports(QCPortDirection::Input)) {
    const PortAddress address{id, input.key};
    if (input.value.isNone() || composition.isConnected(address)) continue;
    undo.push_back(Json{{"set", address.text()}, {"value", ValueJSON::toJSON(input.value)}});
  }
  for (const auto& connection : composition.connections()) {
    if (connection.from.patchId == id || connection.to.patchId == id) {
      undo.push_back(Json{{"connect", connection.from.text()}, {"to", connection.to.text()}});
    }
  }
  return undo;
}

// The control as it stands before the edit.
Json EditInverse::ofPanelEdit(Composition& composition, const Json& command) {
  const std::string id = text(command, "panel");
  QCPlugInViewController* panel = composition.patch(id) ? composition.openPanel(id) : nullptr;
  if (!panel) return Json::array();
  const Json shown = PanelView::describe(*panel, id);
  Json undo{{"panel", id}};
  if (command.contains("tick") || command.contains("untick")) {
    const Json& row = command.contains("tick") ? command["tick"] : command["untick"];
    for (const auto& table : shown["tables"]) {
      size_t column = 0;
      while (column < table["columns"].size() && table["columns"][column]["kind"] != "checkbox") {
        ++column;
      }
      if (column == table["columns"].size()) continue;
      if (!row.is_number_unsigned() || row.get<size_t>() >= table["rows"].size()) break;
      const bool ticked = table["rows"][row.get<size_t>()][column] == 1;
      undo[ticked ? "tick" : "untick"] = row;
      break;
    }
  } else if (command.contains("switch")) {
    for (const auto& control : shown["switches"]) {
      if (control["name"] == command["switch"]) {
        undo["switch"] = control["name"];
        undo["state"] = control["state"];
      }
    }
  } else if (command.contains("number")) {
    for (const auto& control : shown["numbers"]) {
      if (control["name"] == command["number"]) {
        undo["number"] = control["name"];
        undo["value"] = control["value"];
      }
    }
  }
  return undo.size() > 1 ? Json::array({undo}) : Json::array();
}

}  // namespace wex
