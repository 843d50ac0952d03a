#include "app/WexmidiProgram.h"

#include <optional>

#include "app/DecodeCommand.h"
#include "app/EncodeCommand.h"
#include "app/ListCommand.h"
#include "app/ManualWriter.h"
#include "app/MonitorCommand.h"
#include "app/PanelCommand.h"
#include "app/PatchesCommand.h"
#include "app/ProgramContext.h"
#include "app/RunCommand.h"
#include "app/SendCommand.h"
#include "app/ServeCommand.h"
#include "support/RealtimeThreads.h"

namespace wex {

namespace {

// The longest client name that both JACK and the ALSA sequencer take.
constexpr size_t kMaxClientName = 63;

// The first word that is neither an option nor the value of a global option,
// when it names no subcommand.
std::optional<std::string> unknownSubcommand(const CLI::App& app, int argc,
                                             const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--midi" || word == "--name") {
      ++i;
      continue;
    }
    if (word.empty() || word[0] == '-') continue;
    for (const CLI::App* subcommand : app.get_subcommands({})) {
      if (subcommand->check_name(word)) return std::nullopt;
    }
    return word;
  }
  return std::nullopt;
}

}  // namespace

std::string WexmidiProgram::versionText() {
  std::string text = std::string("wexmidi ") + WEX_VERSION;
  if (*WEX_GIT_COMMIT) text += std::string(" (commit ") + WEX_GIT_COMMIT + ")";
  return text;
}

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
  // Options the subcommand does not know go to the program, so that the
  // global ones may come after the subcommand too.
  app.fallthrough();
  app.set_version_flag("--version", versionText());
  std::string midi;
  app.add_option("--midi", midi,
                 "MIDI services: embedded, jack or alsa (default: jack when a server runs, "
                 "else alsa when the machine has a sequencer, else embedded)")
      ->check(CLI::IsMember({"embedded", "jack", "alsa"}));
  std::string clientName = ProgramContext::kDefaultClientName;
  app.add_option("--name", clientName,
                 "The name of the program's JACK or ALSA client (default: wexmidi); its ports "
                 "keep their names from run to run, so a patchbay can keep its connections")
      ->check(CLI::Validator(
          [](const std::string& name) -> std::string {
            if (name.empty() || name.size() > kMaxClientName ||
                name.find(':') != std::string::npos) {
              return "a client name is 1 to " + std::to_string(kMaxClientName) +
                     " bytes without ':'";
            }
            return {};
          },
          ""))
      ->type_name("NAME");

  std::vector<std::pair<CLI::App*, Command*>> added;
  for (auto& command : commands_) added.emplace_back(command->add(app), command.get());

  // For the build: the manual page and the completion, from these very texts.
  if (argc == 2 && std::string(argv[1]) == "--print-man-page") {
    out << ManualWriter::manPage(app, versionText());
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "--print-bash-completion") {
    out << ManualWriter::bashCompletion(app);
    return 0;
  }
  if (const auto unknown = unknownSubcommand(app, argc, argv)) {
    err << "wexmidi: \"" << *unknown << "\" is not a subcommand; the subcommands are";
    for (const auto& [subcommand, command] : added) err << ' ' << subcommand->get_name();
    err << " (wexmidi --help describes them)\n";
    return 2;
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e, out, err);
    return status == 0 ? 0 : 2;
  }

  // Gives a later user in the same process the default again, once the MIDI
  // services the command started (and their threads) are gone.
  struct WantedAgain {
    ~WantedAgain() { RealtimeThreads::setWanted(true); }
  } wantedAgain;
  ProgramContext context(in, out, err);
  context.setMIDIChoice(midi);
  context.setClientName(clientName);
  for (auto& [subcommand, command] : added) {
    if (!subcommand->parsed()) continue;
    RealtimeThreads::setWanted(command->carriesMIDIInTime());
    try {
      return command->run(context);
    } catch (const std::exception& error) {
      // The last handler: whatever a command let through is still reported.
      err << "wexmidi " << subcommand->get_name() << ": " << error.what() << "\n";
      return 1;
    }
  }
  return 2;
}

}  // namespace wex
