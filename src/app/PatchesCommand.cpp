#include "app/PatchesCommand.h"

#include "app/ProgramContext.h"
#include "host/PlugInRegistry.h"
#include "host/ValueJSON.h"
#include "patches/WexPatches.h"
#include "server/CompositionJSON.h"

namespace wex {

namespace {

using Json = ValueJSON::Json;

// The description's carriage returns as line breaks, indented.
std::string indented(const std::string& text) {
  std::string result = "    ";
  for (char c : text) {
    if (c == '\r' || c == '\n') {
      result += "\n    ";
    } else {
      result += c;
    }
  }
  return result;
}

void printText(const QCPlugInClass& plugInClass, std::ostream& out) {
  out << plugInClass.className << ": \"" << plugInClass.displayName() << "\"\n"
      << indented(plugInClass.description()) << "\n"
      << "    execution: " << executionModeName(plugInClass.executionMode)
      << ", time: " << timeModeName(plugInClass.timeMode) << "\n";
  if (plugInClass.plugInKeys) {
    out << "    settings:";
    for (const auto& key : *plugInClass.plugInKeys) out << " " << key;
    out << "\n";
  }
  for (const auto& port : plugInClass.propertyPorts) {
    out << "    " << (port.direction == QCPortDirection::Input ? "in  " : "out ") << port.key
        << " (" << portTypeName(port.type) << ")";
    for (const auto& [key, value] : port.attributes) {
      out << " " << key << "=" << ValueJSON::toJSON(value).dump();
    }
    out << "\n";
  }
}

}  // namespace

CLI::App* PatchesCommand::add(CLI::App& program) {
  CLI::App* command =
      program.add_subcommand("patches", "List the patch classes a composition can use");
  command->add_flag("--json", json_, "One JSON document: a list of the classes");
  return command;
}

int PatchesCommand::run(ProgramContext& context) {
  PlugInRegistry registry;
  registerWexPatches(registry);
  if (json_) {
    Json classes = Json::array();
    for (const auto& plugInClass : registry.classes())
      classes.push_back(CompositionJSON::classJSON(plugInClass));
    context.out() << classes.dump(2) << "\n";
    return 0;
  }
  for (const auto& plugInClass : registry.classes()) printText(plugInClass, context.out());
  return 0;
}

}  // namespace wex
