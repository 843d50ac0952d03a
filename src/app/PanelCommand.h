#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/Command.h"

namespace wex {

// `wexmidi panel FILE ID`: opens the settings panel of one patch of a
// composition file, shows it, makes the given edits through the panel's own
// operations and saves the file when anything was edited.
class PanelCommand : public Command {
 public:
  CLI::App* add(CLI::App& program) override;
  int run(ProgramContext& context) override;

 private:
  std::string file_;
  std::string id_;
  bool json_ = false;
  std::vector<uint64_t> ticks_;
  std::vector<uint64_t> unticks_;
  std::vector<std::string> switches_;
  std::vector<std::string> numbers_;
};

}  // namespace wex
