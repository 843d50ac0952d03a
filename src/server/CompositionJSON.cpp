#include "server/CompositionJSON.h"

namespace wex {

using Json = CompositionJSON::Json;

Json CompositionJSON::attributesJSON(const AttributeDictionary& attributes) {
  Json result = Json::object();
  for (const auto& [key, value] : attributes) result[key] = ValueJSON::toJSON(value);
  return result;
}

Json CompositionJSON::classJSON(const QCPlugInClass& plugInClass) {
  Json ports = Json::array();
  for (const auto& port : plugInClass.propertyPorts) {
    ports.push_back(
        Json{{"key", port.key},
             {"direction", port.direction == QCPortDirection::Input ? "input" : "output"},
             {"type", portTypeName(port.type)},
             {"attributes", attributesJSON(port.attributes)}});
  }
  Json keys = nullptr;
  if (plugInClass.plugInKeys) keys = *plugInClass.plugInKeys;
  return Json{{"class", plugInClass.className},
              {"name", plugInClass.displayName()},
              {"description", plugInClass.description()},
              {"executionMode", executionModeName(plugInClass.executionMode)},
              {"timeMode", timeModeName(plugInClass.timeMode)},
              {"plugInKeys", keys},
              {"ports", ports}};
}

std::string CompositionJSON::portName(const PortInfo& port) {
  auto name = port.attributes.find(QCPortAttributeNameKey);
  if (name != port.attributes.end() && name->second.isString()) return name->second.asString();
  return port.key;
}

Json CompositionJSON::patchJSON(const Composition& composition, const std::string& id) {
  auto plugIn = composition.patch(id);
  const QCPlugInClass* plugInClass = composition.patchClass(id);
  if (!plugIn || !plugInClass) return nullptr;
  auto ports = [&](QCPortDirection direction) {
    Json list = Json::array();
    for (const auto& port : plugIn->portTable().ports(direction)) {
      Json entry{{"key", port.key},
                 {"name", portName(port)},
                 {"type", portTypeName(port.type)},
                 {"attributes", attributesJSON(port.attributes)},
                 {"value", ValueJSON::toJSON(port.value)}};
      if (direction == QCPortDirection::Input) {
        entry["connected"] = composition.isConnected(PortAddress{id, port.key});
      }
      list.push_back(std::move(entry));
    }
    return list;
  };
  Json position = nullptr;
  if (auto point = composition.positions().get(id)) position = {point->x, point->y};
  return Json{{"id", id},
              {"class", plugInClass->className},
              {"name", plugInClass->displayName()},
              {"position", position},
              {"inputs", ports(QCPortDirection::Input)},
              {"outputs", ports(QCPortDirection::Output)}};
}

Json CompositionJSON::compositionJSON(const Composition& composition) {
  Json patches = Json::array();
  for (const auto& id : composition.patchIds()) {
    Json patch = patchJSON(composition, id);
    if (!patch.is_null()) patches.push_back(std::move(patch));
  }
  Json connections = Json::array();
  for (const auto& connection : composition.connections()) {
    connections.push_back(Json{{"from", connection.from.text()}, {"to", connection.to.text()}});
  }
  return Json{{"patches", patches}, {"connections", connections}};
}

}  // namespace wex
