#include <gtest/gtest.h>

#include "services/jack/JackEndpointTable.h"

namespace wex::test {
namespace {

using ServerPort = JackEndpointTable::ServerPort;

struct Listed {
  std::string jackName;
  std::string name;
  bool physical;
  bool operator==(const Listed&) const = default;
};

std::vector<Listed> listed(const JackEndpointTable& table, bool sources) {
  std::vector<Listed> result;
  for (MIDIEndpointRef ref : sources ? table.sources() : table.destinations()) {
    const JackEndpoint* endpoint = table.find(ref);
    result.push_back({endpoint->jackName, endpoint->name, endpoint->physical});
  }
  return result;
}

// The listing is made from what the server told, in its order: our own
// private ports are left out, our virtual endpoints keep the names we gave
// them, and an endpoint that is not told again stays known, offline, with
// its reference.
TEST(JackEndpointTable, ListsWhatTheServerToldLeavingOutOurPrivatePorts) {
  MIDIObjectRef next = 100;
  JackEndpointTable table([&] { return next++; });
  const std::vector<std::string> ownPrivate{"wex:keys to synth:in"};
  const std::map<std::string, std::string> ownNames{{"wex:out", "Our Out"}};
  const std::vector<ServerPort> first{
      {true, "keys:out", "Keys", true},
      {true, "wex:out", "wex:out", false},
      {false, "synth:in", "Synth", false},
      {false, "wex:keys to synth:in", "wex:keys to synth:in", false},
  };
  table.refresh(first, ownPrivate, ownNames);
  EXPECT_EQ(listed(table, true),
            (std::vector<Listed>{{"keys:out", "Keys", true}, {"wex:out", "Our Out", false}}));
  EXPECT_EQ(listed(table, false), (std::vector<Listed>{{"synth:in", "Synth", false}}));
  const MIDIEndpointRef keys = table.sourceAt(0);

  table.refresh({first[1], first[2]}, ownPrivate, ownNames);
  EXPECT_EQ(listed(table, true), (std::vector<Listed>{{"wex:out", "Our Out", false}}));
  ASSERT_NE(table.find(keys), nullptr);
  EXPECT_FALSE(table.find(keys)->present);

  table.refresh(first, ownPrivate, ownNames);
  EXPECT_EQ(table.sourceAt(0), keys) << "the same reference when the port is back";
}

}  // namespace
}  // namespace wex::test
