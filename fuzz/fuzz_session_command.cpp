// Feeds the lines of the input, as commands typed on a running composition's
// standard input or posted to the page's API, to the command model over the
// distributors example: set, panel edits, save, and the structure edits. Each
// line must be done or refused with a reason, never throw anything else, and
// the composition must still evaluate and save to a file that loads again.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "app/CompositionSession.h"
#include "app/ProgramContext.h"
#include "host/CompositionFile.h"
#include "server/CompositionCommands.h"
#include "support/MainThread.h"
#include "support/SystemLog.h"

namespace {

// Added patches beyond this start the composition afresh, so that runs stay fast.
constexpr size_t kMaxPatches = 32;

void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_session_command: %s\n%s\n", what, detail.c_str());
  std::abort();
}

struct Fixture {
  Fixture() : context(in, out, err) {
    wex::MainThread::designateCurrentThread();
    context.setMIDIChoice("embedded");
    char pattern[] = "/tmp/fuzz-session-XXXXXX";
    if (!::mkdtemp(pattern)) fail("no scratch folder", "");
    savePath = std::string(pattern) + "/saved.json";
    load();
  }
  void load() {
    commands.reset();
    session = wex::CompositionSession::open(
        context, "fuzz", std::string(WEX_SOURCE_DIR) + "/examples/distributors.wexcomp.json");
    if (!session) fail("the example does not load", err.str());
    // Saves go to the scratch folder only.
    wex::CompositionCommands::Options scope;
    scope.file = savePath;
    scope.savesAnywhere = false;
    commands = std::make_unique<wex::CompositionCommands>(session->composition(), scope);
  }
  std::istringstream in;
  std::ostringstream out, err;
  wex::ProgramContext context;
  std::string savePath;
  std::unique_ptr<wex::CompositionSession> session;
  std::unique_ptr<wex::CompositionCommands> commands;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* quiet = new wex::SystemLog::Capture;
  static auto* fixture = new Fixture;
  quiet->clear();
  if (fixture->session->composition().patchIds().size() > kMaxPatches) fixture->load();
  std::istringstream lines(std::string(reinterpret_cast<const char*>(data), size));
  for (std::string line; std::getline(lines, line);) {
    try {
      fixture->commands->performLine(line);
    } catch (const wex::CommandError& error) {
      if (std::string(error.what()).empty()) fail("a refusal without a reason", line);
    }
  }
  auto& composition = fixture->session->composition();
  composition.evaluate(0.0);
  const std::string saved = wex::CompositionFile::serialize(composition);
  try {
    wex::CompositionFile::parse(saved, "saved.json", composition.registry());
  } catch (const wex::CompositionFileError& error) {
    fail("the edited composition does not load again", std::string(error.what()) + "\n" + saved);
  }
  return 0;
}
