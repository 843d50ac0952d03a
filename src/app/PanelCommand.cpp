#include "app/PanelCommand.h"

#include "app/CompositionSession.h"
#include "app/ProgramContext.h"
#include "host/CompositionFile.h"
#include "host/QuotedText.h"
#include "server/PanelView.h"
#include "support/MainThread.h"

namespace wex {

namespace {

// "NAME=VALUE" split at the first '='.
bool splitAssignment(const std::string& text, std::string* name, std::string* value) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) return false;
  *name = text.substr(0, equals);
  *value = text.substr(equals + 1);
  return true;
}

}  // namespace

CLI::App* PanelCommand::add(CLI::App& program) {
  CLI::App* command =
      program.add_subcommand("panel", "Show and edit a patch's settings panel in a composition");
  command->add_option("FILE", file_, "The composition file")->required();
  command->add_option("ID", id_, "The patch's id")->required();
  command->add_flag("--json", json_, "Show the panel as JSON");
  command->add_option("--tick", ticks_, "Tick this row of the panel's table");
  command->add_option("--untick", unticks_, "Untick this row of the panel's table");
  command->add_option("--switch", switches_, "Click a switch to a state: NAME=on|off");
  command->add_option("--set", numbers_, "Enter a number in a field: NAME=VALUE");
  return command;
}

int PanelCommand::run(ProgramContext& context) {
  // Check the shape of the edits before anything is loaded.
  std::vector<std::pair<std::string, bool>> switches;
  for (const auto& text : switches_) {
    std::string name, state;
    bool on = false;
    if (!splitAssignment(text, &name, &state) || !PanelView::parseState(state, &on)) {
      context.err() << "wexmidi panel: --switch takes NAME=on|off, got \"" << text << "\"\n";
      return 2;
    }
    switches.emplace_back(name, on);
  }
  std::vector<std::pair<std::string, uint64_t>> numbers;
  for (const auto& text : numbers_) {
    std::string name, value;
    size_t used = 0;
    uint64_t number = 0;
    bool valid = splitAssignment(text, &name, &value) && !value.empty() && value[0] != '-';
    if (valid) {
      try {
        number = std::stoull(value, &used);
      } catch (const std::exception&) {
        valid = false;
      }
    }
    if (!valid || used != value.size()) {
      context.err() << "wexmidi panel: --set takes NAME=NUMBER, got \"" << text << "\"\n";
      return 2;
    }
    numbers.emplace_back(name, number);
  }

  auto session = CompositionSession::open(context, "panel", file_);
  if (!session) return 1;
  Composition& composition = session->composition();
  const bool edited = !ticks_.empty() || !unticks_.empty() || !switches.empty() || !numbers.empty();
  const QCPlugInClass* plugInClass = composition.patchClass(id_);
  if (edited && plugInClass &&
      plugInClass->plugInKeys.value_or(std::vector<std::string>{}).empty()) {
    // An edit that the file cannot keep would be lost without a word.
    context.err() << "wexmidi panel: patch \"" << id_ << "\" (" << plugInClass->className
                  << ") saves no settings in the composition file, so its panel cannot be "
                     "edited here; its choices are made afresh each time the composition runs\n";
    return 1;
  }
  int status = 0;
  performOnMainThreadAndWait([&] {
    QCPlugInViewController* panel = composition.openPanel(id_);
    if (!panel) {
      context.err() << "wexmidi panel: "
                    << (composition.patch(id_)
                            ? "patch " + QuotedText::of(id_) + " has no settings panel"
                            : "there is no patch " + QuotedText::of(id_))
                    << "\n";
      status = 1;
      return;
    }
    std::string reason;
    bool ok = true;
    for (uint64_t row : ticks_) ok = ok && PanelView::tick(*panel, row, true, &reason);
    for (uint64_t row : unticks_) ok = ok && PanelView::tick(*panel, row, false, &reason);
    for (const auto& [name, on] : switches)
      ok = ok && PanelView::setSwitch(*panel, name, on, &reason);
    for (const auto& [name, value] : numbers) {
      ok = ok && PanelView::setNumber(*panel, name, value, &reason);
    }
    if (!ok) {
      context.err() << "wexmidi panel: " << reason << "\n";
      status = 1;
      return;
    }
    if (json_) {
      context.out() << PanelView::describe(*panel, id_).dump(2) << "\n";
    } else {
      context.out() << PanelView::text(*panel, id_);
    }
  });
  // Closing the panel may still change settings (a panel closed while
  // learning ends the learning), so the file is saved after it.
  composition.closeAllPanels();
  if (status != 0) return status;
  if (!edited) return 0;
  try {
    CompositionFile::save(composition, file_);
  } catch (const CompositionFileError& error) {
    context.err() << "wexmidi panel: " << error.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace wex
