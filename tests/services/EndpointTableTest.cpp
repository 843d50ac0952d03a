#include <gtest/gtest.h>

#include "services/EndpointTable.h"

namespace wex::test {
namespace {

TEST(EndpointTable, AnEndpointKeepsItsReferenceAndIDWhenItGoesAndComesBackUnderItsKey) {
  MIDIObjectRef next = 100;
  EndpointTable<ListedEndpoint> table([&] { return next++; });
  auto listing = [&](std::initializer_list<std::pair<bool, const char*>> present) {
    table.beginListing();
    for (const auto& [isSource, key] : present) table.list(table.endpointFor(isSource, key));
    return table.signature([](const ListedEndpoint& e) { return e.name; });
  };

  const std::string both = listing({{true, "keys:out"}, {false, "synth:in"}});
  const MIDIEndpointRef keys = table.sourceAt(0);
  const MIDIEndpointRef synth = table.destinationAt(0);
  EXPECT_NE(keys, synth);
  EXPECT_EQ(table.sourceAt(1), 0u);
  EXPECT_EQ(table.find(keys)->uniqueID, ListedEndpoint::uniqueIDFor("keys:out"));

  const std::string keysGone = listing({{false, "synth:in"}});
  EXPECT_NE(keysGone, both);
  EXPECT_TRUE(table.sources().empty());
  EXPECT_FALSE(table.find(keys)->present);

  EXPECT_EQ(listing({{true, "keys:out"}, {false, "synth:in"}}), both);
  EXPECT_EQ(table.sourceAt(0), keys);
  // A source and a destination of one name are two endpoints.
  EXPECT_NE(table.endpointFor(false, "keys:out").ref, keys);

  table.rekey(true, "keys:out", "keys:renamed");
  EXPECT_EQ(table.endpointFor(true, "keys:renamed").ref, keys);
  EXPECT_EQ(table.findByKey(true, "keys:out"), nullptr);
}

}  // namespace
}  // namespace wex::test
