#include <gtest/gtest.h>

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
  }
  EXPECT_NE(source["uniqueID"], destination["uniqueID"]);
}

TEST(ListCommand, PlainTextHasAHeaderAndOneRowPerEndpointAndLeavesNoServicesInstalled) {
  const ListRun run = runList({"--midi", "embedded", "list"});
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(run.lines.size(), 3u);
  EXPECT_EQ(run.lines[0].rfind("KIND", 0), 0u);
  EXPECT_EQ(run.lines[1].rfind("source ", 0), 0u);
  EXPECT_EQ(run.lines[2].rfind("destination ", 0), 0u);
  for (size_t i = 1; i < 3; ++i) {
    EXPECT_NE(run.lines[i].find("wexmidi Loopback"), std::string::npos) << run.lines[i];
  }
  EXPECT_EQ(currentMIDIServicesShared(), nullptr);
}

TEST(ListCommand, UnknownOptionIsAUsageError) {
  EXPECT_EQ(runList({"--midi", "embedded", "list", "--bogus"}).status, 2);
}

}  // namespace
}  // namespace wex
