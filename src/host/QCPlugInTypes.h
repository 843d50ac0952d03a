#pragma once

#include <map>
#include <string>

#include "host/Value.h"

namespace wex {

// Port types of the host. Patches add dynamic ports of the first three;
// property ports may also carry strings and structures.
enum class QCPortType { Boolean, Index, Number, String, Structure };

inline constexpr QCPortType QCPortTypeBoolean = QCPortType::Boolean;
inline constexpr QCPortType QCPortTypeIndex = QCPortType::Index;
inline constexpr QCPortType QCPortTypeNumber = QCPortType::Number;
inline constexpr QCPortType QCPortTypeString = QCPortType::String;
inline constexpr QCPortType QCPortTypeStructure = QCPortType::Structure;

enum class QCPortDirection { Input, Output };

// Providers run every tick, processors when an input changed (and on their
// first tick), consumers every tick.
enum class QCPlugInExecutionMode { Provider = 1, Processor = 2, Consumer = 3 };
// Idle: the host evaluates the patch regularly even when no input changes.
enum class QCPlugInTimeMode { None = 0, Idle = 1, TimeBase = 2 };

// Attribute dictionaries: of a patch class, and of a port.
using AttributeDictionary = std::map<std::string, Value>;

inline const std::string QCPlugInAttributeNameKey = "name";
inline const std::string QCPlugInAttributeDescriptionKey = "description";

inline const std::string QCPortAttributeNameKey = "name";
inline const std::string QCPortAttributeDefaultValueKey = "defaultValue";
inline const std::string QCPortAttributeMaximumValueKey = "maximumValue";
// An ordered structure of strings; the port's value is the chosen item's index.
inline const std::string QCPortAttributeMenuItemsKey = "menuItems";

const char* portTypeName(QCPortType type);
const char* executionModeName(QCPlugInExecutionMode mode);
const char* timeModeName(QCPlugInTimeMode mode);

}  // namespace wex
