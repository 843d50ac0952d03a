#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/WexmidiProgram.h"
#include "services/MIDIServices.h"

namespace wex {
namespace {

struct ListRun {
  int status;
  std::vector<std::string> lines;
  std::string err;
};

ListRun runList(std::vector<std::string> args) {
  args.insert(args.begin(), "wexmidi");
  std::vector<const char*> argv;
  for (const auto& arg : args) argv.push_back(arg.c_str());
  std::istringstream in;
  std::ostringstream out, err;
  const int status = WexmidiProgram().run(static_cast<int>(argv.size()), argv.data(), in, out, err);
  ListRun run{status, {}, err.str()};
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) run.lines.push_back(line);
  return run;
}

TEST(ListCommand, JsonLinesShowTheLoopbackBusAsOneSourceAndOneDestinationWithUniqueIDs) {
  const ListRun run = runList({"--midi", "embedded", "list", "--json"});
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.lines.size(), 2u);
  const auto source = nlohmann::json::parse(run.lines[0]);
  const auto destination = nlohmann::json::parse(run.lines[1]);
  EXPECT_EQ(source["kind"], "source");
  EXPECT_EQ(destination["kind"], "destination");
  for (const auto& entry : {source, destination}) {
    EXPECT_EQ(entry["name"], "wexmidi Loopback");
    EXPECT_EQ(entry["index"], 0);
    EXPECT_TRUE(entry["uniqueID"].is_number_integer());
    EXPECT_EQ(entry["services"], "embedded");
  }
  EXPECT_NE(source["uniqueID"], destination["uniqueID"]);
}

TEST(ListCommand, PlainTextHasAHeaderAndOneRowPerEndpointAndLeavesNoServicesInstalled) {
  const ListRun run = runList({"--midi", "embedded", "list"});
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.lines.size(), 4u);
  EXPECT_EQ(run.lines[0], "MIDI services: embedded");
  EXPECT_EQ(run.lines[1].rfind("KIND", 0), 0u);
  EXPECT_EQ(run.lines[2].rfind("source ", 0), 0u);
  EXPECT_EQ(run.lines[3].rfind("destination ", 0), 0u);
  for (size_t i = 2; i < 4; ++i) {
    EXPECT_NE(run.lines[i].find("wexmidi Loopback"), std::string::npos) << run.lines[i];
  }
  EXPECT_EQ(currentMIDIServicesShared(), nullptr);
}

TEST(ListCommand, WithNoServerAnsweringOneLineSaysTheEmbeddedServicesAreUsedAndHowToReachAServer) {
  // A server name that nothing answers to.
  const char* previous = getenv("JACK_DEFAULT_SERVER");
  const std::string kept = previous ? previous : "";
  setenv("JACK_DEFAULT_SERVER", ("wexmidi-nobody-" + std::to_string(getpid())).c_str(), 1);
  setenv("JACK_NO_START_SERVER", "1", 1);
  const ListRun chosen = runList({"--midi", "embedded", "list"});
  const ListRun fallen = runList({"list"});
  if (previous) {
    setenv("JACK_DEFAULT_SERVER", kept.c_str(), 1);
  } else {
    unsetenv("JACK_DEFAULT_SERVER");
  }
  EXPECT_EQ(chosen.err, "");
  ASSERT_EQ(fallen.status, 0) << fallen.err;
  EXPECT_EQ(fallen.lines.front(), "MIDI services: embedded");
  EXPECT_EQ(std::count(fallen.err.begin(), fallen.err.end(), '\n'), 1) << fallen.err;
  for (const char* part : {"embedded MIDI services", "JACK server", "pw-jack", "--midi embedded"}) {
    EXPECT_NE(fallen.err.find(part), std::string::npos) << part << " in " << fallen.err;
  }
}

TEST(ListCommand, UnknownOptionIsAUsageError) {
  EXPECT_EQ(runList({"--midi", "embedded", "list", "--bogus"}).status, 2);
}

}  // namespace
}  // namespace wex
