#include "app/ServeCommand.h"

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "app/CommandInput.h"
#include "app/CompositionSession.h"
#include "app/InterruptWatch.h"
#include "app/OscBridge.h"
#include "app/PortWatcher.h"
#include "app/ProgramContext.h"
#include "app/RecoveryFile.h"
#include "midiio/MIDIFilePlayer.h"
#include "server/CompositionCommands.h"
#include "server/CompositionServer.h"
#include "server/DestinationSender.h"
#include "server/PageMonitor.h"
#include "support/MainThread.h"

namespace wex {

namespace {

std::string generatedToken() {
  std::random_device random;
  std::string token;
  const char* digits = "0123456789abcdef";
  for (int i = 0; i < 32; ++i) token += digits[random() % 16];
  return token;
}

// The page beside the program: share/wexmidi/web when it is installed, web/
// when it runs from the build folder it was built in (one with a
// CMakeCache.txt). Nothing else is looked at, so an installed program never
// reaches into a build tree. Empty when neither holds a page.
std::string defaultWebRoot(std::vector<std::string>* lookedAt) {
  std::error_code error;
  const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return "";
  const auto folder = program.parent_path();
  const auto installed = folder.parent_path() / "share" / "wexmidi" / "web";
  lookedAt->push_back(installed.string());
  if (std::filesystem::is_regular_file(installed / "index.html", error)) return installed.string();
  if (std::filesystem::is_regular_file(folder / "CMakeCache.txt", error)) {
    const auto built = folder / "web";
    lookedAt->push_back(built.string());
    if (std::filesystem::is_regular_file(built / "index.html", error)) return built.string();
  }
  return "";
}

}  // namespace

CLI::App* ServeCommand::add(CLI::App& program) {
  CLI::App* command = program.add_subcommand(
      "serve", "Run a composition file and serve a page to watch and edit it");
  command->add_option("FILE", file_, "The composition file (a new one when it does not exist)")
      ->required();
  command->add_option("--listen", listen_,
                      "HOST:PORT to listen on (default 127.0.0.1:8760; port 0 picks a free one)");
  command->add_option("--token", token_,
                      "The token every request must bring, at least 16 characters (made up when "
                      "listening off the loopback without one)");
  options_.add(command,
               "Play this Standard MIDI File in real time from the source \"wexmidi Player\"");
  command->add_option("--web", webRoot_,
                      "The folder of the built page (default: the installed one)");
  return command;
}

// Edits that no save holds go to the recovery file rather than being lost.
void ServeCommand::keepUnsaved(ProgramContext& context, const Composition& composition) const {
  std::string path, reason;
  if (RecoveryFile::keep(composition, file_, &path, &reason)) {
    context.err() << "wexmidi serve: changes since the last save were not saved to " << file_
                  << "; they are kept in " << path << "\n";
  } else {
    context.err() << "wexmidi serve: changes since the last save were not saved to " << file_
                  << ", nor kept beside it: " << reason << "\n";
  }
}

bool ServeCommand::parseListen(std::string* host, int* port, std::string* reason) const {
  const size_t colon = listen_.rfind(':');
  std::string portText = colon == std::string::npos ? "" : listen_.substr(colon + 1);
  *host = colon == std::string::npos ? "" : listen_.substr(0, colon);
  if (host->size() > 2 && host->front() == '[' && host->back() == ']') {
    *host = host->substr(1, host->size() - 2);
  }
  char* end = nullptr;
  const long number = std::strtol(portText.c_str(), &end, 10);
  if (host->empty() || portText.empty() || *end != '\0' || number < 0 || number > 65535) {
    *reason = "--listen takes HOST:PORT (PORT 0 to 65535), got \"" + listen_ + "\"";
    return false;
  }
  *port = static_cast<int>(number);
  return true;
}

int ServeCommand::run(ProgramContext& context) {
  CompositionServer::Options options;
  std::string reason;
  if (!parseListen(&options.host, &options.port, &reason)) {
    context.err() << "wexmidi serve: " << reason << "\n";
    return 2;
  }
  if (!token_.empty() && token_.size() < kShortestToken) {
    context.err()
        << "wexmidi serve: --token must have at least " << kShortestToken
        << " characters, so that it cannot be guessed; leave it out to have one made up\n";
    return 2;
  }
  options.token = token_;
  if (options.token.empty() && !RequestGuard::isLoopback(options.host)) {
    options.token = generatedToken();
  }
  std::vector<std::string> lookedAt;
  options.webRoot = webRoot_.empty() ? defaultWebRoot(&lookedAt) : webRoot_;
  if (!webRoot_.empty()) lookedAt.push_back(webRoot_);

  std::unique_ptr<MIDIFilePlayer> player;
  if (!options_.preparePlayer(context, &player)) return 1;
  auto session = CompositionSession::openOrCreate(context, "serve", file_);
  if (!session) return 1;
  Composition& composition = session->composition();
  JsonLineOutput output(context.out());
  PortWatcher watcher(composition, PortWatcher::jsonLines(output));
  if (const int status = options_.applySetsAndWatches(context, *session, watcher)) return status;

  DestinationSender sender;
  CompositionCommands::Options scope;
  scope.file = file_;
  // The API is reachable by any local process (and off the loopback by any
  // holder of the token): saves stay on the served file. --save still writes
  // anywhere at the end.
  scope.savesAnywhere = false;
  scope.sender = &sender;
  CompositionCommands commands(composition, scope);
  CompositionServer server(composition, commands, options);
  if (!server.start(&reason)) {
    context.err() << "wexmidi serve: " << reason << "\n";
    return 1;
  }
  PageMonitor monitor(*context.startMIDIServices(), server);
  if (!monitor.start(&reason)) {
    context.err() << "wexmidi serve: " << reason << "\n";
    return 1;
  }
  OscBridge osc(composition, "serve");
  if (const int status = osc.start(context, options_.osc(), &sender)) return status;
  std::error_code error;
  if (options.webRoot.empty() ||
      !std::filesystem::is_regular_file(std::filesystem::path(options.webRoot) / "index.html",
                                        error)) {
    std::string folders;
    for (const auto& folder : lookedAt) folders += (folders.empty() ? "" : ", ") + folder;
    if (folders.empty()) folders = "no folder (the program's own path is unknown)";
    context.err() << "wexmidi serve: no page files (index.html) in " << folders
                  << ": serving the API alone; build the page with node and npm, or install it\n";
  }
  context.out() << server.url() << std::endl;
  composition.setTickObserver([&watcher, &osc, &server](double time) {
    watcher.tick(time);
    osc.tick(time);
    server.evaluated();
  });

  InterruptWatch interrupts;
  CommandInput input(context, "serve", commands, output);
  input.setRefusalHandler([&server](const std::string& refusal) {
    server.events().publishEvent("failure", ValueJSON::Json{{"error", refusal}});
  });
  input.start();
  using Clock = std::chrono::steady_clock;
  const auto end = options_.endTime();
  composition.start(options_.rate());
  if (player) player->start();
  while (!InterruptWatch::interrupted() && Clock::now() < end) {
    if (isMainThread()) {
      MainThread::runPendingTasks(std::chrono::milliseconds(10));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    input.performWaiting([&] { return InterruptWatch::interrupted() || Clock::now() >= end; });
    osc.performWaiting();
    monitor.update();
  }
  if (player) player->stop();
  server.stop();
  composition.stop();
  input.stop();
  composition.setTickObserver(nullptr);
  osc.stop(context);
  composition.closeAllPanels();
  const int played = options_.reportUnplayed(context, player.get());
  const int saved = options_.saveAtEnd(context, composition);
  if (commands.unsaved() && (!options_.savesAtEnd() || saved != 0))
    keepUnsaved(context, composition);
  return saved != 0 ? saved : played;
}

}  // namespace wex
