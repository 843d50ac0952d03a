#pragma once

#include <string>
#include <vector>

#include "app/Command.h"

namespace wex {

// `wexmidi send`: a sender patch sends the messages given (message values,
// readable words, hex bytes, files of bytes) to the chosen destinations (all
// by default), and the command waits until they have been delivered.
class SendCommand : public Command {
 public:
  CLI::App* add(CLI::App& program) override;
  int run(ProgramContext& context) override;

 private:
  std::vector<std::string> destinations_;
  std::vector<std::string> values_;
  std::vector<std::string> hexes_;
  std::vector<std::string> files_;
  // To read the arguments back in the order given.
  CLI::App* command_ = nullptr;
  CLI::Option* hexOption_ = nullptr;
  CLI::Option* fileOption_ = nullptr;
  CLI::Option* valuesOption_ = nullptr;
};

}  // namespace wex
