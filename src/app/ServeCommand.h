#pragma once

#include <string>
#include <vector>

#include "app/Command.h"
#include "app/RunOptions.h"
#include "host/Composition.h"

namespace wex {

// `wexmidi serve FILE`: runs the composition as `run` does (the same
// evaluation, options and commands on standard input) and serves a page and
// an HTTP API to watch and edit it. A FILE that does not exist yet starts an
// empty composition that saving writes there.
class ServeCommand : public Command {
 public:
  static constexpr int kDefaultPort = 8760;
  static constexpr size_t kShortestToken = 16;

  CLI::App* add(CLI::App& program) override;
  int run(ProgramContext& context) override;
  bool carriesMIDIInTime() const override { return true; }

 private:
  bool parseListen(std::string* host, int* port, std::string* reason) const;
  void keepUnsaved(ProgramContext& context, const Composition& composition) const;

  std::string file_;
  RunOptions options_{"serve"};
  std::string listen_ = "127.0.0.1:8760";
  std::string token_;
  std::string webRoot_;
};

}  // namespace wex
