#include "app/WexmidiProgram.h"

#include "app/DecodeCommand.h"
#include "app/EncodeCommand.h"
#include "app/ListCommand.h"
#include "app/MonitorCommand.h"
#include "app/PanelCommand.h"
#include "app/PatchesCommand.h"
#include "app/ProgramContext.h"
#include "app/RunCommand.h"
#include "app/SendCommand.h"
#include "app/ServeCommand.h"

namespace wex {

WexmidiProgram::WexmidiProgram() {
  commands_.push_back(std::make_unique<DecodeCommand>());
  commands_.push_back(std::make_unique<EncodeCommand>());
  commands_.push_back(std::make_unique<ListCommand>());
  commands_.push_back(std::make_unique<MonitorCommand>());
  commands_.push_back(std::make_unique<SendCommand>());
  commands_.push_back(std::make_unique<PatchesCommand>());
  commands_.push_back(std::make_unique<RunCommand>());
  commands_.push_back(std::make_unique<PanelCommand>());
  commands_.push_back(std::make_unique<ServeCommand>());
}
WexmidiProgram::~WexmidiProgram() = default;

int WexmidiProgram::run(int argc, const char* const* argv, std::istream& in, std::ostream& out,
                        std::ostream& err) {
  CLI::App app{"wexmidi: MIDI tools and a patch host for MIDI compositions", "wexmidi"};
  app.require_subcommand(1);
  std::string midi;
  app.add_option("--midi", midi,
                 "MIDI services: embedded or jack (default: jack when a server runs)")
      ->check(CLI::IsMember({"embedded", "jack"}));

  std::vector<std::pair<CLI::App*, Command*>> added;
  for (auto& command : commands_) added.emplace_back(command->add(app), command.get());

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e, out, err);
    return status == 0 ? 0 : 2;
  }

  ProgramContext context(in, out, err);
  context.setMidiChoice(midi);
  for (auto& [subcommand, command] : added) {
    if (subcommand->parsed()) return command->run(context);
  }
  return 2;
}

}  // namespace wex
