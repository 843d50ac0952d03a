#pragma once

#include <string>

#include "host/Composition.h"
#include "host/QCPlugInClass.h"
#include "host/ValueJSON.h"

namespace wex {

// The composition as the page and the API see it: patches with their class,
// display name, position and ports (types, names, attributes and current
// values), and the connections.
class CompositionJSON {
 public:
  using Json = ValueJSON::Json;

  // A patch class as `wexmidi patches --json` lists it.
  static Json classJSON(const QCPlugInClass& plugInClass);
  static Json attributesJSON(const AttributeDictionary& attributes);
  // Null when there is no such patch.
  static Json patchJSON(const Composition& composition, const std::string& id);
  static Json compositionJSON(const Composition& composition);
  // The port's name for people: its "name" attribute, else its key.
  static std::string portName(const PortInfo& port);
};

}  // namespace wex
