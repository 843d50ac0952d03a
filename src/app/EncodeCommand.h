#pragma once

#include <string>
#include <vector>

#include "app/Command.h"

namespace wex {

// `wexmidi encode`: reads each argument as a message value, as the sender
// patch reads its inputs, and prints the bytes the message goes out as.
class EncodeCommand : public Command {
 public:
  CLI::App* add(CLI::App& program) override;
  int run(ProgramContext& context) override;

 private:
  std::vector<std::string> values_;
};

}  // namespace wex
