#pragma once

#include "app/Command.h"

namespace wex {

// `wexmidi patches [--json]`: every registered patch class with its display
// name, description, modes and property ports.
class PatchesCommand : public Command {
 public:
  CLI::App* add(CLI::App& program) override;
  int run(ProgramContext& context) override;

 private:
  bool json_ = false;
};

}  // namespace wex
