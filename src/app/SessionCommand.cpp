#include "app/SessionCommand.h"

#include "app/CompositionSession.h"
#include "host/CompositionFile.h"
#include "host/JSONReader.h"
#include "server/PanelView.h"
#include "support/MainThread.h"

namespace wex {

namespace {

using Json = SessionCommand::Json;

std::string excerpt(const std::string& text) {
  constexpr size_t kShown = 80;
  return text.size() <= kShown ? text : text.substr(0, kShown) + "...";
}

bool text(const Json& command, const char* key, std::string* out, std::string* reason) {
  if (!command.contains(key) || !command[key].is_string()) {
    *reason = std::string("\"") + key + "\" must be a string";
    return false;
  }
  *out = command[key].get<std::string>();
  return true;
}

bool row(const Json& command, const char* key, uint64_t* out, std::string* reason) {
  if (!command[key].is_number_unsigned()) {
    *reason = std::string("\"") + key + "\" must be a row number";
    return false;
  }
  *out = command[key].get<uint64_t>();
  return true;
}

// "state": true/false or "on"/"off".
bool state(const Json& command, bool* on, std::string* reason) {
  const Json value = command.contains("state") ? command["state"] : Json();
  if (value.is_boolean()) {
    *on = value.get<bool>();
    return true;
  }
  if (value.is_string() && PanelView::parseState(value.get<std::string>(), on)) return true;
  *reason = "\"state\" must be \"on\" or \"off\"";
  return false;
}

bool edit(QCPlugInViewController& controller, const Json& command, std::string* reason) {
  uint64_t number = 0;
  if (command.contains("tick")) {
    return row(command, "tick", &number, reason) &&
           PanelView::tick(controller, number, true, reason);
  }
  if (command.contains("untick")) {
    return row(command, "untick", &number, reason) &&
           PanelView::tick(controller, number, false, reason);
  }
  if (command.contains("switch")) {
    std::string name;
    bool on = false;
    return text(command, "switch", &name, reason) && state(command, &on, reason) &&
           PanelView::setSwitch(controller, name, on, reason);
  }
  if (command.contains("number")) {
    std::string name;
    if (!text(command, "number", &name, reason)) return false;
    if (!command.contains("value") || !command["value"].is_number_unsigned()) {
      *reason = "\"value\" must be an unsigned integer";
      return false;
    }
    return PanelView::setNumber(controller, name, command["value"].get<uint64_t>(), reason);
  }
  return true;
}

}  // namespace

SessionCommand::SessionCommand(CompositionSession& session, Reply reply)
    : session_(session), reply_(std::move(reply)) {}

bool SessionCommand::performLine(const std::string& line, std::string* reason) {
  if (line.find_first_not_of(" \t\r") == std::string::npos) return true;
  if (line.size() > kMaxLineLength) {
    *reason = "the line is longer than " + std::to_string(kMaxLineLength / 1024) + " KiB";
    return false;
  }
  Json command;
  try {
    // A value sits one level down, in "value".
    command = JSONReader::parse(line, ValueJSON::kMaxDepth + 1);
  } catch (const JSONReadError& error) {
    *reason = std::string(error.what()) + ", in: " + excerpt(line);
    return false;
  }
  if (!command.is_object()) {
    *reason = "expected a JSON object per line, got: " + excerpt(line);
    return false;
  }
  return perform(command, reason);
}

bool SessionCommand::perform(const Json& command, std::string* reason) {
  try {
    return dispatch(command, reason);
  } catch (const std::exception& error) {
    // A patch or the host refusing in a way of its own: still one refusal.
    *reason = error.what();
    return false;
  }
}

bool SessionCommand::dispatch(const Json& command, std::string* reason) {
  if (!command.is_object()) {
    *reason = "expected a JSON object, got " + ValueJSON::kindName(command);
    return false;
  }
  if (command.contains("set")) return set(command, reason);
  if (command.contains("panel")) {
    bool done = false;
    performOnMainThreadAndWait([&] {
      try {
        done = panel(command, reason);
      } catch (const std::exception& error) {
        *reason = error.what();
      }
    });
    return done;
  }
  if (command.contains("save")) return save(command, reason);
  *reason = "unknown command (set, panel or save): " + excerpt(command.dump());
  return false;
}

bool SessionCommand::set(const Json& command, std::string* reason) {
  std::string address;
  if (!text(command, "set", &address, reason)) return false;
  if (!command.contains("value")) {
    *reason = "\"set\" needs a \"value\"";
    return false;
  }
  return session_.setInput(address, command["value"], reason);
}

bool SessionCommand::panel(const Json& command, std::string* reason) {
  std::string id;
  if (!text(command, "panel", &id, reason)) return false;
  Composition& composition = session_.composition();
  if (command.contains("close")) {
    if (!command["close"].is_boolean()) {
      *reason = "\"close\" must be true or false, got " + ValueJSON::kindName(command["close"]);
      return false;
    }
    if (command["close"].get<bool>()) {
      composition.closePanel(id);
      reply_(Json{{"closed", id}});
      return true;
    }
  }
  QCPlugInViewController* controller = composition.openPanel(id);
  if (!controller) {
    *reason = composition.patch(id) ? "patch \"" + id + "\" has no settings panel"
                                    : "there is no patch \"" + id + "\"";
    return false;
  }
  if (!edit(*controller, command, reason)) return false;
  reply_(Json{{"panel", PanelView::describe(*controller, id)}});
  return true;
}

bool SessionCommand::save(const Json& command, std::string* reason) {
  std::string path;
  if (!text(command, "save", &path, reason)) return false;
  if (path.empty()) {
    *reason = "\"save\" needs a file name";
    return false;
  }
  try {
    CompositionFile::save(session_.composition(), path);
  } catch (const CompositionFileError& error) {
    *reason = error.what();
    return false;
  }
  reply_(Json{{"saved", path}});
  return true;
}

}  // namespace wex
