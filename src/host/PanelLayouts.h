#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/TableColumn.h"

namespace wex {

// The layout resource of a settings panel, by panel name: what a controller
// made with that name shows before its own constructor adds anything.
struct PanelLayout {
  struct Table {
    std::string name;
    std::vector<TableColumn> columns;
  };
  struct Switch {
    std::string name;
    std::string title;
  };
  struct Number {
    std::string name;
    std::string title;
    std::string settingKey;
    uint64_t minimum = 0;
    uint64_t maximum = 0;
  };
  std::vector<Table> tables;
  std::vector<Switch> switches;
  std::vector<Number> numbers;
};

// The process's panel layouts (the resources of the loaded patch libraries).
class PanelLayouts {
 public:
  // Registering a name again replaces its layout.
  static void registerLayout(const std::string& panelName, PanelLayout layout);
  static std::optional<PanelLayout> find(const std::string& panelName);
};

}  // namespace wex
