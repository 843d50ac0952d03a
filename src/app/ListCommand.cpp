#include "app/ListCommand.h"

#include <iomanip>
#include <nlohmann/json.hpp>
#include <optional>

#include "app/EndpointListManager.h"
#include "app/ProgramContext.h"
#include "services/MIDIServices.h"
#include "support/OwnerName.h"

namespace wex {

namespace {

struct Entry {
  const char* kind;
  size_t index;
  std::optional<std::string> name;
  std::optional<int32_t> uniqueID;
  bool physical = false;
};

// Whether the endpoint is a hardware port. A node keeps only its endpoint's
// unique ID, so the endpoint is found again by that.
bool isPhysical(bool source, std::optional<int32_t> uniqueID) {
  if (!uniqueID) return false;
  const ItemCount count = source ? MIDIGetNumberOfSources() : MIDIGetNumberOfDestinations();
  for (ItemCount i = 0; i < count; ++i) {
    const MIDIEndpointRef endpoint = source ? MIDIGetSource(i) : MIDIGetDestination(i);
    int32_t id = 0;
    if (MIDIObjectGetIntegerProperty(endpoint, kMIDIPropertyUniqueID, &id) != noErr ||
        id != *uniqueID) {
      continue;
    }
    int32_t physical = 0;
    return MIDIObjectGetIntegerProperty(endpoint, kMIDIPropertyPhysical, &physical) == noErr &&
           physical != 0;
  }
  return false;
}

std::vector<Entry> entriesOf(MutLockArray<OrvMIDINode>& list, const char* kind) {
  std::vector<Entry> entries;
  for (const auto& node : list.readLocked()) {
    Entry entry{kind, entries.size(), node->name(), std::nullopt};
    auto id = node->properties().find(kMIDIPropertyUniqueID);
    if (id != node->properties().end()) entry.uniqueID = std::get<int32_t>(id->second);
    entry.physical = isPhysical(std::string(kind) == "source", entry.uniqueID);
    entries.push_back(std::move(entry));
  }
  return entries;
}

void printJson(std::ostream& out, const std::vector<Entry>& entries, const std::string& services) {
  for (const auto& entry : entries) {
    nlohmann::json line = {{"kind", entry.kind}, {"index", entry.index}};
    line["name"] = entry.name ? nlohmann::json(*entry.name) : nlohmann::json(nullptr);
    line["uniqueID"] = entry.uniqueID ? nlohmann::json(*entry.uniqueID) : nlohmann::json(nullptr);
    line["physical"] = entry.physical;
    line["services"] = services;
    out << line.dump() << '\n';
  }
}

void printText(std::ostream& out, const std::vector<Entry>& entries, const std::string& services) {
  out << "MIDI services: " << services << '\n';
  out << std::left << std::setw(13) << "KIND" << std::setw(13) << "UNIQUE ID" << std::setw(10)
      << "PHYSICAL"
      << "NAME\n";
  for (const auto& entry : entries) {
    out << std::setw(13) << entry.kind << std::setw(13)
        << (entry.uniqueID ? std::to_string(*entry.uniqueID) : "-") << std::setw(10)
        << (entry.physical ? "yes" : "-") << entry.name.value_or("(no name)") << '\n';
  }
}

}  // namespace

CLI::App* ListCommand::add(CLI::App& program) {
  CLI::App* list = program.add_subcommand("list", "List the MIDI sources and destinations");
  list->add_flag("--json", json_, "One JSON object per line");
  return list;
}

int ListCommand::run(ProgramContext& context) {
  if (!context.startMIDIServices()) return 1;
  std::vector<Entry> entries;
  {
    // The nodes it makes to read the endpoints' properties connect for a
    // moment; their ports are named after the command.
    OwnerName::Scope owner("list");
    const auto manager = OrvMIDIManager::create<EndpointListManager>();
    entries = entriesOf(manager->sourceArray(), "source");
    const auto destinations = entriesOf(manager->destArray(), "destination");
    entries.insert(entries.end(), destinations.begin(), destinations.end());
  }
  if (json_) {
    printJson(context.out(), entries, context.servicesName());
  } else {
    printText(context.out(), entries, context.servicesName());
  }
  return 0;
}

}  // namespace wex
