#include <gtest/gtest.h>

#include "host/PortTable.h"

namespace wex {
namespace {

// A slot finds its port again whatever ports come and go around it, and
// takes an output's value once per assignment.
TEST(PortTableTest, ASlotFollowsItsPortThroughAddedAndRemovedPorts) {
  PortTable table;
  for (const char* key : {"outputA", "outputB", "outputC"}) {
    ASSERT_TRUE(table.addPort(QCPortDirection::Output, QCPortType::Number, key, {}, false));
  }
  PortTable::Slot slot("outputC");
  uint64_t taken = 0;
  Value value;
  EXPECT_FALSE(table.takeOutput(slot, &taken, &value)) << "never assigned";

  table.setOutputValue("outputC", Value::number(1));
  EXPECT_TRUE(table.takeOutput(slot, &taken, &value));
  EXPECT_EQ(value, Value::number(1));
  EXPECT_FALSE(table.takeOutput(slot, &taken, &value)) << "taken already";

  ASSERT_TRUE(table.removePort(QCPortDirection::Output, "outputA"));
  ASSERT_TRUE(table.addPort(QCPortDirection::Output, QCPortType::Number, "outputD", {}, false));
  table.setOutputValue("outputD", Value::number(4));
  table.setOutputValue("outputC", Value::number(2));
  EXPECT_TRUE(table.takeOutput(slot, &taken, &value));
  EXPECT_EQ(value, Value::number(2)) << "the port itself, not the one now at its old place";

  ASSERT_TRUE(table.removePort(QCPortDirection::Output, "outputC"));
  EXPECT_FALSE(table.takeOutput(slot, &taken, &value));
  ASSERT_TRUE(table.addPort(QCPortDirection::Output, QCPortType::Number, "outputC", {}, false));
  table.setOutputValue("outputC", Value::number(3));
  EXPECT_TRUE(table.takeOutput(slot, &taken, &value));
  EXPECT_EQ(value, Value::number(3));
}

}  // namespace
}  // namespace wex
