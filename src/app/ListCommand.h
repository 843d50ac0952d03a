#pragma once

#include "app/Command.h"

namespace wex {

// `wexmidi list [--json]`: the MIDI sources and destinations, with their
// unique identifiers, as a manager lists them.
class ListCommand : public Command {
 public:
  CLI::App* add(CLI::App& program) override;
  int run(ProgramContext& context) override;

 private:
  bool json_ = false;
};

}  // namespace wex
