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

// Another wexmidi's connection ports are known by their names when their mark
// is lost; devices and ordinary clients' ports, however named, are not.
TEST(JackEndpointTable, ConnectionPortsAreKnownByNameAndNothingElseIs) {
  struct Case {
    bool isSource;
    const char* jackName;
    bool connectionPort;
  };
  const Case cases[] = {
      {false, "wexmidi:thru.in from system:midi_capture_1", true},
      {false, "wexmidi-01:in from wexmidi:out to synth:in 2", true},
      {true, "wexmidi-01:out to fluidsynth:midi_00", true},
      {true, "wexmidi:keys from system:midi_capture_1", false},  // an input's name on an output
      {false, "wexmidi:out to fluidsynth:midi_00", false},
      {false, "fluidsynth:midi_00", false},
      {true, "Midi-Bridge:Midi Through 0:(capture_0) Midi Through Port-0", false},
      {true, "a2j:USB to MIDI [24] (capture): USB to MIDI MIDI 1", false},
      {false, "sampler:notes from the keyboard", false},
      {false, "sampler: from keys:out", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JackEndpointTable::hasConnectionPortName(c.isSource, c.jackName), c.connectionPort)
        << c.jackName;
  }
}

}  // namespace
}  // namespace wex::test
