#include "host/CompositionFile.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "host/FileReplacement.h"
#include "host/JSONReader.h"
#include "host/QCPlugInHostException.h"
#include "host/QuotedText.h"
#include "support/LimitedFileReader.h"

namespace wex {

namespace {

using Json = ValueJSON::Json;

const char* const kFormatName = "wexmidi composition";

// Builds the one error of a bad file: the file, the place in it, the reason.
class Reader {
 public:
  Reader(std::string name, const PlugInRegistry& registry)
      : name_(std::move(name)), registry_(registry) {}

  [[noreturn]] void fail(const std::string& place, const std::string& reason) const {
    throw CompositionFileError(name_ + ": " + (place.empty() ? "" : place + ": ") + reason);
  }

  std::unique_ptr<Composition> read(const Json& document) {
    if (!document.is_object()) fail("", "the file must hold one JSON object");
    checkMembers(document, "", {"format", "version", "patches", "connections"});
    checkFormat(document);
    auto composition = std::make_unique<Composition>(registry_);
    composition->beginChanges();
    const Json& patches = member(document, "", "patches", Json::value_t::array, true);
    if (patches.size() > CompositionFile::kMaxPatches) {
      fail("patches", std::to_string(patches.size()) + " patches, more than the " +
                          std::to_string(CompositionFile::kMaxPatches) + " a composition may hold");
    }
    for (size_t i = 0; i < patches.size(); ++i) createPatch(*composition, patches[i], i);
    for (size_t i = 0; i < patches.size(); ++i) restoreSettings(*composition, patches[i], i);
    for (size_t i = 0; i < patches.size(); ++i) setInputs(*composition, patches[i], i);
    if (document.contains("connections")) {
      const Json& connections = member(document, "", "connections", Json::value_t::array, true);
      if (connections.size() > CompositionFile::kMaxConnections) {
        fail("connections", std::to_string(connections.size()) + " connections, more than the " +
                                std::to_string(CompositionFile::kMaxConnections) +
                                " a composition may hold");
      }
      for (size_t i = 0; i < connections.size(); ++i) connect(*composition, connections[i], i);
    }
    try {
      composition->commitChanges();
    } catch (const CompositionCycleError& cycle) {
      fail(element("connections", cycle.connection()), cycle.what());
    }
    return composition;
  }

 private:
  static std::string at(const std::string& place, const std::string& key) {
    return place.empty() ? QuotedText::shown(key) : place + "." + QuotedText::shown(key);
  }
  static std::string element(const std::string& list, size_t index) {
    return list + "[" + std::to_string(index) + "]";
  }

  void checkMembers(const Json& object, const std::string& place,
                    const std::set<std::string>& known) const {
    for (const auto& [key, value] : object.items()) {
      if (!known.count(key)) fail(at(place, key), "unknown member " + QuotedText::of(key));
    }
  }

  const Json& member(const Json& object, const std::string& place, const std::string& key,
                     Json::value_t type, bool required) const {
    static const Json none;
    if (!object.contains(key)) {
      if (required) fail(place.empty() ? key : place, "missing member " + QuotedText::of(key));
      return none;
    }
    const Json& value = object.at(key);
    const bool fits =
        type == Json::value_t::number_unsigned ? value.is_number_unsigned() : value.type() == type;
    if (!fits) {
      const char* expected = type == Json::value_t::array    ? "a list"
                             : type == Json::value_t::object ? "an object"
                             : type == Json::value_t::string ? "a string"
                                                             : "an unsigned integer";
      fail(at(place, key),
           std::string("expected ") + expected + ", got " + ValueJSON::kindName(value));
    }
    return value;
  }

  void checkFormat(const Json& document) const {
    const Json& format = member(document, "", "format", Json::value_t::string, true);
    if (format.get<std::string>() != kFormatName) {
      fail("format", "expected \"" + std::string(kFormatName) + "\", got \"" +
                         format.get<std::string>() + "\"");
    }
    if (document.contains("version") && !document.at("version").is_number_unsigned()) {
      const Json& version = document.at("version");
      fail("version", "expected a whole format version such as " +
                          std::to_string(CompositionFile::kFormatVersion) + ", got " +
                          (version.is_number() ? version.dump() : ValueJSON::kindName(version)));
    }
    const Json& version = member(document, "", "version", Json::value_t::number_unsigned, true);
    if (version.get<uint64_t>() != CompositionFile::kFormatVersion) {
      fail("version", "format version " + std::to_string(version.get<uint64_t>()) +
                          " is not supported (this program reads version " +
                          std::to_string(CompositionFile::kFormatVersion) + ")");
    }
  }

  void createPatch(Composition& composition, const Json& entry, size_t index) {
    const std::string place = element("patches", index);
    if (!entry.is_object()) fail(place, "expected an object, got " + ValueJSON::kindName(entry));
    checkMembers(entry, place, {"id", "class", "settings", "inputs", "position"});
    const std::string id = member(entry, place, "id", Json::value_t::string, true);
    const std::string className = member(entry, place, "class", Json::value_t::string, true);
    if (id.empty() || id.find('.') != std::string::npos) {
      fail(at(place, "id"), "a patch id must be non-empty and hold no '.': " + QuotedText::of(id));
    }
    if (composition.patch(id)) fail(at(place, "id"), "duplicate patch id " + QuotedText::of(id));
    if (!registry_.classNamed(className)) {
      fail(at(place, "class"), "unknown patch class " + QuotedText::of(className));
    }
    try {
      composition.addPatch(id, className);
    } catch (const std::exception& failure) {
      fail(place, failure.what());
    }
    if (entry.contains("position")) composition.positions().set(id, position(entry, place));
  }

  PatchPositions::Point position(const Json& entry, const std::string& place) const {
    const Json& point = member(entry, place, "position", Json::value_t::array, true);
    if (point.size() != 2 || !point[0].is_number() || !point[1].is_number()) {
      fail(at(place, "position"), "expected a list of two numbers [x, y]");
    }
    return PatchPositions::Point{point[0].get<double>(), point[1].get<double>()};
  }

  void restoreSettings(Composition& composition, const Json& entry, size_t index) {
    const std::string place = element("patches", index);
    const Json& settings = member(entry, place, "settings", Json::value_t::object, false);
    if (settings.is_null()) return;
    const std::string id = entry.at("id");
    const QCPlugInClass& plugInClass = *composition.patchClass(id);
    const auto keys = plugInClass.plugInKeys.value_or(std::vector<std::string>{});
    auto plugIn = composition.patch(id);
    for (const auto& [key, json] : settings.items()) {
      const std::string settingPlace = at(at(place, "settings"), key);
      if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
        fail(settingPlace, QuotedText::of(key) + " is not a setting of " + plugInClass.className);
      }
      try {
        plugIn->setSerializedValue(ValueJSON::fromJSON(json), key);
      } catch (const CompositionFileError&) {
        throw;
      } catch (const std::exception& failure) {
        // The host's refusal, or whatever a patch's setter throws at a value
        // it cannot take: either way the file is bad at this place.
        fail(settingPlace, failure.what());
      }
    }
  }

  void setInputs(Composition& composition, const Json& entry, size_t index) {
    const std::string place = element("patches", index);
    const Json& inputs = member(entry, place, "inputs", Json::value_t::object, false);
    if (inputs.is_null()) return;
    const std::string id = entry.at("id");
    auto plugIn = composition.patch(id);
    for (const auto& [key, json] : inputs.items()) {
      const std::string inputPlace = at(at(place, "inputs"), key);
      auto port = plugIn->portTable().port(QCPortDirection::Input, key);
      if (!port) {
        fail(inputPlace, composition.patchClass(id)->className + " patch " + QuotedText::of(id) +
                             " has no input port " + QuotedText::of(key));
      }
      Value value;
      std::string reason;
      if (!ValueJSON::fromJSONForPort(json, port->type, &value, &reason)) {
        fail(inputPlace, std::string("input of type ") + portTypeName(port->type) + ": " + reason);
      }
      try {
        composition.setInputValue(PortAddress{id, key}, value);
      } catch (const CompositionError& failure) {
        fail(inputPlace, failure.what());
      }
    }
  }

  PortAddress address(const Json& entry, const std::string& place, const std::string& key) const {
    const std::string text = member(entry, place, key, Json::value_t::string, true);
    PortAddress result;
    if (!PortAddress::parse(text, &result)) {
      fail(at(place, key), "expected \"id.port\", got " + QuotedText::of(text));
    }
    return result;
  }

  void connect(Composition& composition, const Json& entry, size_t index) {
    const std::string place = element("connections", index);
    if (!entry.is_object()) fail(place, "expected an object, got " + ValueJSON::kindName(entry));
    checkMembers(entry, place, {"from", "to"});
    const PortAddress from = address(entry, place, "from");
    const PortAddress to = address(entry, place, "to");
    try {
      composition.connect(from, to);
    } catch (const CompositionError& failure) {
      fail(place, failure.what());
    }
  }

  std::string name_;
  const PlugInRegistry& registry_;
};

}  // namespace

std::unique_ptr<Composition> CompositionFile::load(const std::string& path,
                                                   const PlugInRegistry& registry) {
  std::string text, reason;
  if (!LimitedFileReader::read(path, &text, &reason)) throw CompositionFileError(reason);
  return parse(text, path, registry);
}

std::unique_ptr<Composition> CompositionFile::parse(const std::string& text,
                                                    const std::string& name,
                                                    const PlugInRegistry& registry) {
  Json document;
  try {
    // A value sits four levels down: the document, "patches", a patch, "inputs".
    document = JSONReader::parse(text, ValueJSON::kMaxDepth + 4);
  } catch (const JSONReadError& failure) {
    throw CompositionFileError(name + ": " + failure.what());
  }
  return Reader(name, registry).read(document);
}

ValueJSON::Json CompositionFile::toJSON(const Composition& composition) {
  Json document = Json::object();
  document["format"] = kFormatName;
  document["version"] = kFormatVersion;
  Json patches = Json::array();
  for (const auto& id : composition.patchIds()) {
    auto plugIn = composition.patch(id);
    const QCPlugInClass& plugInClass = *composition.patchClass(id);
    Json entry = Json::object();
    entry["id"] = id;
    entry["class"] = plugInClass.className;
    Json settings = Json::object();
    for (const auto& key : plugInClass.plugInKeys.value_or(std::vector<std::string>{})) {
      try {
        settings[key] = ValueJSON::toJSON(plugIn->serializedValueForKey(key));
      } catch (const QCPlugInHostException& failure) {
        throw CompositionFileError("patch " + QuotedText::of(id) + ": cannot save setting " +
                                   QuotedText::of(key) + ": " + failure.what());
      }
    }
    if (!settings.empty()) entry["settings"] = settings;
    Json inputs = Json::object();
    for (const auto& port : plugIn->portTable().ports(QCPortDirection::Input)) {
      if (port.value.isNone() || composition.isConnected(PortAddress{id, port.key})) continue;
      inputs[port.key] = ValueJSON::toJSON(port.value);
    }
    if (!inputs.empty()) entry["inputs"] = inputs;
    if (auto point = composition.positions().get(id)) entry["position"] = {point->x, point->y};
    patches.push_back(entry);
  }
  document["patches"] = patches;
  Json connections = Json::array();
  for (const auto& connection : composition.connections()) {
    connections.push_back(Json{{"from", connection.from.text()}, {"to", connection.to.text()}});
  }
  document["connections"] = connections;
  return document;
}

std::string CompositionFile::serialize(const Composition& composition) {
  return serialize(toJSON(composition));
}

std::string CompositionFile::serialize(const Json& document) {
  std::string text = document.dump(2) + "\n";
  // Indentation can multiply the size of long lists: a file too large
  // that way is written without it, which loads all the same.
  if (text.size() > kMaxFileSize) text = document.dump() + "\n";
  return text;
}

void CompositionFile::save(const Composition& composition, const std::string& path) {
  const Json document = toJSON(composition);
  const auto refuse = [&path](const std::string& reason) {
    throw CompositionFileError(path + ": cannot write the file: " + reason +
                               "; the file is left as it was");
  };
  // What loading would refuse is never written.
  const size_t patches = composition.patchIds().size();
  if (patches > kMaxPatches) {
    refuse(std::to_string(patches) + " patches, more than the " + std::to_string(kMaxPatches) +
           " a composition may hold");
  }
  const size_t connections = composition.connections().size();
  if (connections > kMaxConnections) {
    refuse(std::to_string(connections) + " connections, more than the " +
           std::to_string(kMaxConnections) + " a composition may hold");
  }
  const size_t values = JSONReader::valueCount(document);
  if (values > JSONReader::kMaxValues) {
    refuse(std::to_string(values) + " values, more than the " +
           std::to_string(JSONReader::kMaxValues) +
           " a file may hold (each list and object counts twice)");
  }
  const std::string text = serialize(document);
  if (text.size() > kMaxFileSize) {
    refuse("it would take " + std::to_string(text.size() / (1024 * 1024)) + " MiB, more than the " +
           std::to_string(kMaxFileSize / (1024 * 1024)) + " MiB a file may hold");
  }
  std::string reason;
  if (!FileReplacement::replace(path, text, &reason)) {
    throw CompositionFileError(path + ": cannot write the file: " + reason);
  }
}

}  // namespace wex
