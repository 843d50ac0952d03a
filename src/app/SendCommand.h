#pragma once

#include <string>
#include <vector>

#include "app/Command.h"

namespace wex {

// `wexmidi send`: a sender patch sends the message values given (message
// numbers or sysex strings) to the chosen destinations (all by default), and
// the command waits until they have been delivered.
class SendCommand : public Command {
 public:
  CLI::App* add(CLI::App& program) override;
  int run(ProgramContext& context) override;

 private:
  std::vector<std::string> destinations_;
  std::vector<std::string> values_;
};

}  // namespace wex
