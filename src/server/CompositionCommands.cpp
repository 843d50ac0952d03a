#include "server/CompositionCommands.h"

#include "host/CompositionFile.h"
#include "host/JSONReader.h"
#include "host/QuotedText.h"
#include "host/Structure.h"
#include "patches/MessageArgument.h"
#include "server/DestinationSender.h"
#include "server/EditInverse.h"
#include "server/PanelView.h"
#include "support/MainThread.h"

namespace wex {

namespace {

using Json = CompositionCommands::Json;

// What an error quotes of a long command.
// Text from outside as a message shows it: control characters as \xNN, cut
// short when long.
std::string excerpt(const std::string& text) {
  return QuotedText::shown(text);
}

std::string text(const Json& command, const char* key) {
  if (!command.contains(key) || !command[key].is_string()) {
    throw CommandError(std::string("\"") + key + "\" must be a string");
  }
  return command[key].get<std::string>();
}

uint64_t row(const Json& command, const char* key) {
  if (!command[key].is_number_unsigned()) {
    throw CommandError(std::string("\"") + key + "\" must be a row number");
  }
  return command[key].get<uint64_t>();
}

PortAddress address(const Json& command, const char* key) {
  const std::string spec = text(command, key);
  PortAddress result;
  if (!PortAddress::parse(spec, &result)) {
    throw CommandError(std::string("\"") + key + "\" must be ID.PORT, got \"" + excerpt(spec) +
                       "\"");
  }
  return result;
}

PatchPositions::Point point(const Json& command) {
  const Json& position = command.value("position", Json());
  if (!position.is_array() || position.size() != 2 || !position[0].is_number() ||
      !position[1].is_number()) {
    throw CommandError("\"position\" must be a list of two numbers [x, y]");
  }
  return {position[0].get<double>(), position[1].get<double>()};
}

// "state": true/false or "on"/"off".
bool state(const Json& command) {
  const Json value = command.value("state", Json());
  bool on = false;
  if (value.is_boolean()) return value.get<bool>();
  if (value.is_string() && PanelView::parseState(value.get<std::string>(), &on)) return on;
  throw CommandError("\"state\" must be \"on\" or \"off\"");
}

void check(bool done, const std::string& reason) {
  if (!done) throw CommandError(reason);
}

}  // namespace

CompositionCommands::CompositionCommands(Composition& composition, Options options)
    : composition_(composition), options_(std::move(options)) {}

std::vector<std::string> CompositionCommands::destinations() {
  std::vector<std::string> names;
  if (options_.sender) performOnMainThreadAndWait([&] { names = options_.sender->destinations(); });
  return names;
}

void CompositionCommands::setObserver(Observer observer) {
  performOnMainThreadAndWait([&] { observer_ = std::move(observer); });
}

Json CompositionCommands::parse(const std::string& line) {
  try {
    return JSONReader::parse(line, ValueJSON::kMaxDepth + 1);
  } catch (const JSONReadError& error) {
    throw CommandError(std::string(error.what()) + ", in: " + excerpt(line));
  }
}

Json CompositionCommands::performLine(const std::string& line) {
  if (line.find_first_not_of(" \t\r") == std::string::npos) return Json();
  if (line.size() > kMaxLineLength) {
    throw CommandError("the line is longer than " + std::to_string(kMaxLineLength / 1024) + " KiB");
  }
  const Json command = parse(line);
  if (!command.is_object()) {
    throw CommandError("expected a JSON object per line, got: " + excerpt(line));
  }
  return perform(command);
}

Json CompositionCommands::perform(const Json& command) {
  if (!command.is_object()) {
    throw CommandError("expected a JSON object, got " + ValueJSON::kindName(command));
  }
  Json answer;
  std::string failure;
  bool forbidden = false;
  performOnMainThreadAndWait([&] {
    try {
      answer = dispatch(command);
    } catch (const CommandForbidden& error) {
      failure = error.what();
      forbidden = true;
    } catch (const std::exception& error) {
      // Ours, and the composition's own refusals (CompositionError and the like).
      failure = error.what();
      if (failure.empty()) failure = "the command was refused";
    }
  });
  if (forbidden) throw CommandForbidden(failure);
  if (!failure.empty()) throw CommandError(failure);
  return answer;
}

std::string CompositionCommands::commandNames() const {
  std::vector<std::string> names{"set", "panel", "save"};
  if (options_.editsStructure) {
    names.insert(names.end(), {"add", "remove", "connect", "disconnect", "move"});
  }
  if (options_.sender) names.push_back("send");
  names.insert(names.end(), {"undo", "redo"});
  std::string list;
  for (size_t i = 0; i < names.size(); ++i) {
    list += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
  }
  return list;
}

// The name a command is known by: its first key that names a command this
// composition takes, in this order; empty when none does.
std::string CompositionCommands::kind(const Json& command) const {
  for (const char* name : {"set", "panel", "save"}) {
    if (command.contains(name)) return name;
  }
  if (options_.editsStructure) {
    for (const char* name : {"add", "remove", "connect", "disconnect", "move"}) {
      if (command.contains(name)) return name;
    }
  }
  if (options_.sender && command.contains("send")) return "send";
  for (const char* name : {"undo", "redo"}) {
    if (command.contains(name)) return name;
  }
  return "";
}

Json CompositionCommands::dispatch(const Json& command) {
  const std::string name = kind(command);
  if (name == "undo" || name == "redo") {
    check(command[name] == true, "\"" + name + "\" must be true");
    return name == "undo" ? undo() : redo();
  }
  if (!EditInverse::isEdit(name, command)) return apply(name, command);
  Json inverse = name == "add" ? Json() : EditInverse::before(composition_, name, command);
  const Json answer = apply(name, command);
  Json done = command;
  if (name == "add") {
    done["id"] = answer["added"];
    inverse = EditInverse::afterAdd(answer["added"].get<std::string>());
  }
  history_.record({done, inverse});
  historyChanged();
  return answer;
}

Json CompositionCommands::apply(const std::string& name, const Json& command) {
  if (name == "set") return set(command);
  if (name == "panel") return panel(command);
  if (name == "save") return save(command);
  if (name == "add") return add(command);
  if (name == "remove") return remove(command);
  if (name == "connect") return connect(command);
  if (name == "disconnect") return disconnect(command);
  if (name == "move") return move(command);
  if (name == "send") return send(command);
  throw CommandError("unknown command (" + commandNames() + "): " + excerpt(command.dump()));
}

// A step whose commands cannot all be done (the composition changed in a way
// no edit did, as when a panel lost a row) is dropped.
Json CompositionCommands::undo() {
  auto step = history_.takeUndo();
  check(step.has_value(), "there is nothing to undo");
  try {
    for (const auto& command : step->undo) apply(kind(command), command);
  } catch (const std::exception& error) {
    historyChanged();
    throw CommandError(std::string("cannot undo ") + excerpt(step->command.dump()) + ": " +
                       error.what());
  }
  const Json answer{{"undone", step->command}};
  history_.undone(std::move(*step));
  historyChanged();
  return answer;
}

Json CompositionCommands::redo() {
  auto step = history_.takeRedo();
  check(step.has_value(), "there is nothing to redo");
  const std::string name = kind(step->command);
  try {
    if (name != "add") step->undo = EditInverse::before(composition_, name, step->command);
    apply(name, step->command);
  } catch (const std::exception& error) {
    historyChanged();
    throw CommandError(std::string("cannot redo ") + excerpt(step->command.dump()) + ": " +
                       error.what());
  }
  const Json answer{{"redone", step->command}};
  history_.redone(std::move(*step));
  historyChanged();
  return answer;
}

void CompositionCommands::historyChanged() {
  undoable_ = history_.undoCount();
  redoable_ = history_.redoCount();
  changed(Change::History, "");
}

void CompositionCommands::changed(Change change, const std::string& id) {
  if (change != Change::Saved && change != Change::History) unsaved_ = true;
  if (observer_) observer_(change, id);
}

void CompositionCommands::setInput(Composition& composition, const std::string& address,
                                   const Json& json) {
  PortAddress input;
  check(PortAddress::parse(address, &input), "expected ID.PORT, got \"" + excerpt(address) + "\"");
  auto plugIn = composition.patch(input.patchId);
  check(plugIn != nullptr, "there is no patch " + QuotedText::of(input.patchId));
  auto port = plugIn->portTable().port(QCPortDirection::Input, input.key);
  check(port.has_value(), "patch " + QuotedText::of(input.patchId) + " has no input port " +
                              QuotedText::of(input.key));
  Value value;
  std::string why;
  // Apart: the reason is only known once the conversion has run.
  const bool converted = ValueJSON::fromJSONForPort(json, port->type, &value, &why);
  check(converted, input.text() + ": input of type " + portTypeName(port->type) + ": " + why);
  try {
    composition.setInputValue(input, value);
  } catch (const CompositionError& error) {
    throw CommandError(error.what());
  }
}

Json CompositionCommands::set(const Json& command) {
  const std::string input = text(command, "set");
  check(command.contains("value"), "\"set\" needs a \"value\"");
  setInput(composition_, input, command["value"]);
  changed(Change::Values, input.substr(0, input.find('.')));
  return Json{{"set", input}};
}

Json CompositionCommands::panel(const Json& command) {
  const std::string id = text(command, "panel");
  if (command.contains("close")) {
    check(command["close"].is_boolean(),
          "\"close\" must be true or false, got " + ValueJSON::kindName(command["close"]));
    if (command["close"].get<bool>()) {
      composition_.closePanel(id);
      return Json{{"closed", id}};
    }
  }
  QCPlugInViewController* controller = composition_.openPanel(id);
  check(controller != nullptr, composition_.patch(id)
                                   ? "patch " + QuotedText::of(id) + " has no settings panel"
                                   : "there is no patch " + QuotedText::of(id));
  if (editPanel(*controller, command)) changed(Change::Panel, id);
  return Json{{"panel", PanelView::describe(*controller, id)}};
}

// True when the command edited the panel.
bool CompositionCommands::editPanel(QCPlugInViewController& controller, const Json& command) {
  std::string reason;
  if (command.contains("tick") || command.contains("untick")) {
    const bool on = command.contains("tick");
    check(PanelView::tick(controller, row(command, on ? "tick" : "untick"), on, &reason), reason);
    return true;
  }
  if (command.contains("switch")) {
    const std::string name = text(command, "switch");
    check(PanelView::setSwitch(controller, name, state(command), &reason), reason);
    return true;
  }
  if (command.contains("number")) {
    const std::string name = text(command, "number");
    check(command.value("value", Json()).is_number_unsigned(),
          "\"value\" must be an unsigned integer");
    check(PanelView::setNumber(controller, name, command["value"].get<uint64_t>(), &reason),
          reason);
    return true;
  }
  return false;
}

Json CompositionCommands::save(const Json& command) {
  const Json& target = command["save"];
  const std::string& file = options_.file;
  std::string path;
  if (target.is_string()) {
    path = target.get<std::string>();
    check(!path.empty(), "\"save\" needs a file name");
    if (!options_.savesAnywhere && path != file) {
      throw CommandForbidden("save writes the served file only (" + file + "), not \"" +
                             excerpt(path) + "\"; send {\"save\": true}");
    }
  } else if (target == true && !file.empty()) {
    path = file;
  } else {
    throw CommandError(
        file.empty() ? "\"save\" must be a file name"
                     : "\"save\" must be a file name, or true for the composition's own file");
  }
  try {
    CompositionFile::save(composition_, path);
  } catch (const CompositionFileError& error) {
    throw CommandError(error.what());
  }
  if (path == file) {
    unsaved_ = false;
    changed(Change::Saved, "");
  }
  return Json{{"saved", path}};
}

Json CompositionCommands::add(const Json& command) {
  const std::string className = text(command, "add");
  const QCPlugInClass* plugInClass = composition_.registry().classNamed(className);
  check(plugInClass != nullptr, "unknown patch class " + QuotedText::of(className));
  // What the file could not hold would be refused when it is opened again.
  check(composition_.patchIds().size() < CompositionFile::kMaxPatches,
        "the composition holds the " + std::to_string(CompositionFile::kMaxPatches) +
            " patches a composition may hold");
  std::string id;
  if (command.contains("id")) {
    id = text(command, "id");
  } else {
    // The class name without its "MIDI_" and "PlugIn", numbered: "CCDistributor2".
    std::string stem = className;
    if (stem.rfind("MIDI_", 0) == 0) stem = stem.substr(5);
    if (stem.size() > 6 && stem.ends_with("PlugIn")) stem.resize(stem.size() - 6);
    if (stem.empty()) stem = "patch";
    for (int n = 1; id.empty() || composition_.patch(id); ++n) id = stem + std::to_string(n);
  }
  const bool placed = command.contains("position");
  const PatchPositions::Point where = placed ? point(command) : PatchPositions::Point{};
  const Json settings = command.value("settings", Json::object());
  check(settings.is_object(), "\"settings\" must be an object of setting keys and values");
  const auto keys = plugInClass->plugInKeys.value_or(std::vector<std::string>{});
  for (const auto& [key, value] : settings.items()) {
    check(std::find(keys.begin(), keys.end(), key) != keys.end(),
          QuotedText::of(key) + " is not a setting of " + className);
  }
  composition_.addPatch(id, className);
  try {
    for (const auto& [key, value] : settings.items()) {
      composition_.patch(id)->setSerializedValue(ValueJSON::fromJSON(value), key);
    }
  } catch (const std::exception& error) {
    composition_.removePatch(id);
    throw CommandError("setting of " + className + ": " + error.what());
  }
  if (placed) composition_.positions().set(id, where);
  changed(Change::Structure, id);
  return Json{{"added", id}};
}

Json CompositionCommands::remove(const Json& command) {
  const std::string id = text(command, "remove");
  composition_.removePatch(id);
  changed(Change::Structure, id);
  return Json{{"removed", id}};
}

Json CompositionCommands::connect(const Json& command) {
  const PortAddress from = address(command, "connect");
  const PortAddress to = address(command, "to");
  check(composition_.isConnected(to) ||
            composition_.connections().size() < CompositionFile::kMaxConnections,
        "the composition holds the " + std::to_string(CompositionFile::kMaxConnections) +
            " connections a composition may hold");
  composition_.connect(from, to);
  changed(Change::Structure, to.patchId);
  return Json{{"connected", from.text()}, {"to", to.text()}};
}

Json CompositionCommands::disconnect(const Json& command) {
  const PortAddress to = address(command, "disconnect");
  check(composition_.isConnected(to), "input " + to.text() + " has no connection");
  composition_.disconnect(to);
  changed(Change::Structure, to.patchId);
  return Json{{"disconnected", to.text()}};
}

Json CompositionCommands::move(const Json& command) {
  const std::string id = text(command, "move");
  check(composition_.patch(id) != nullptr, "there is no patch " + QuotedText::of(id));
  if (command.contains("position") && command["position"].is_null()) {
    composition_.positions().erase(id);
  } else {
    composition_.positions().set(id, point(command));
  }
  changed(Change::Structure, id);
  return Json{{"moved", id}};
}

Json CompositionCommands::send(const Json& command) {
  const Json& list = command["send"];
  check(list.is_array() && !list.empty(), "\"send\" must be a non-empty list of message values");
  std::vector<Value> messages;
  for (const auto& item : list) {
    // Read as `wexmidi send` reads its arguments, with the same checks.
    check(item.is_number() || item.is_string(),
          "\"send\" takes message values, numbers or text, got " + ValueJSON::kindName(item));
    const std::string argument = item.is_string() ? item.get<std::string>() : item.dump();
    std::string reason;
    auto value = MessageArgument::value(argument, reason);
    check(value.has_value(), "\"" + excerpt(argument) + "\" yields no message: " + reason);
    messages.push_back(*value);
  }
  std::vector<std::string> names;
  if (command.contains("to")) {
    const Json& to = command["to"];
    check(to.is_array(), "\"to\" must be a list of destination names");
    for (const auto& name : to) {
      check(name.is_string(), "\"to\" must be a list of destination names");
      names.push_back(name.get<std::string>());
    }
  }
  std::vector<std::string> chosen;
  std::string reason;
  check(options_.sender->send(messages, names, &chosen, &reason), reason);
  return Json{{"sent", messages.size()}, {"to", chosen}};
}

}  // namespace wex
