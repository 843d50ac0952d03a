// Feeds the lines of the input, as a running composition's standard input,
// to the command model over the distributors example: set, panel edits,
// save. Each line must be done or refused with a reason, never throw, and
// the composition must still evaluate and save to a file that loads again.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "app/CompositionSession.h"
#include "app/ProgramContext.h"
#include "app/SessionCommand.h"
#include "host/CompositionFile.h"
#include "host/JSONReader.h"
#include "support/MainThread.h"
#include "support/SystemLog.h"

namespace {

void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_session_command: %s\n%s\n", what, detail.c_str());
  std::abort();
}

struct Fixture {
  Fixture() : context(in, out, err) {
    wex::MainThread::designateCurrentThread();
    context.setMidiChoice("embedded");
    char pattern[] = "/tmp/fuzz-session-XXXXXX";
    if (!::mkdtemp(pattern)) fail("no scratch folder", "");
    savePath = std::string(pattern) + "/saved.json";
    session = wex::CompositionSession::open(
        context, "fuzz", std::string(WEX_SOURCE_DIR) + "/examples/distributors.wexcomp.json");
    if (!session) fail("the example does not load", err.str());
  }
  std::istringstream in;
  std::ostringstream out, err;
  wex::ProgramContext context;
  std::string savePath;
  std::unique_ptr<wex::CompositionSession> session;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* quiet = new wex::SystemLog::Capture;
  static auto* fixture = new Fixture;
  quiet->clear();
  wex::SessionCommand commands(*fixture->session, [](const wex::ValueJSON::Json&) {});
  std::istringstream lines(std::string(reinterpret_cast<const char*>(data), size));
  for (std::string line; std::getline(lines, line);) {
    std::string reason;
    bool done;
    try {
      // Saves go to the scratch folder only.
      auto command = wex::JSONReader::parse(line, wex::ValueJSON::kMaxDepth + 1);
      if (command.is_object() && command.contains("save") && command["save"].is_string()) {
        command["save"] = fixture->savePath;
        done = commands.perform(command, &reason);
      } else {
        done = commands.performLine(line, &reason);
      }
    } catch (const wex::JSONReadError&) {
      done = commands.performLine(line, &reason);
    }
    if (!done && reason.empty()) fail("a refusal without a reason", line);
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
