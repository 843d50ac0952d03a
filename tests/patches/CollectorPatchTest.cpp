#include <gtest/gtest.h>

#include "PatchFixture.h"
#include "host/CompositionFile.h"
#include "host/QCPlugInViewController.h"
#include "host/Structure.h"
#include "patches/MIDI_GroupPlugIn.h"
#include "support/MainThread.h"

namespace wex {
namespace {

class CollectorPatchTest : public test::PatchFixture {
 protected:
  CollectorPatchTest()
      : group_(
            dynamic_cast<MIDI_GroupPlugIn&>(composition_->addPatch("group", "MIDI_GroupPlugIn"))) {}

  std::vector<std::string> messageInputs() {
    std::vector<std::string> keys;
    for (const auto& port : group_.portTable().ports(QCPortDirection::Input)) {
      if (!port.isProperty) keys.push_back(port.key);
    }
    return keys;
  }
  std::string displayName(const std::string& key) {
    auto port = group_.portTable().port(QCPortDirection::Input, key);
    return port ? port->attributes.at(QCPortAttributeNameKey).asString() : "";
  }
  std::vector<Value> gathered() {
    const Value messages = output("group.outputMessages");
    return messages.isStructure() ? messages.asStructure()->values() : std::vector<Value>{};
  }

  MIDI_GroupPlugIn& group_;
};

TEST_F(CollectorPatchTest, ANewCollectorHasOneNumberInputKeyedFromZeroNamedFromOne) {
  EXPECT_EQ(group_.numberOfMessages(), 1u);
  EXPECT_EQ(messageInputs(), std::vector<std::string>{"message0"});
  EXPECT_EQ(displayName("message0"), "Message 1");
  EXPECT_EQ(group_.portTable().port(QCPortDirection::Input, "message0")->type, QCPortTypeNumber);
}

TEST_F(CollectorPatchTest, OnlyTheInputsThatChangedAreGatheredInInputOrder) {
  group_.setNumberOfMessages(3);
  set("group.message0", Value::number(1));
  set("group.message1", Value::number(2));
  set("group.message2", Value::number(3));
  tick();
  EXPECT_EQ(gathered(), (std::vector<Value>{Value::number(1), Value::number(2), Value::number(3)}));

  set("group.message1", Value::number(9452644));
  tick();
  EXPECT_EQ(gathered(), std::vector<Value>{Value::number(9452644)});
}

TEST_F(CollectorPatchTest, WithSendAllEveryInputThatHasAValueIsGathered) {
  group_.setNumberOfMessages(4);
  set("group.message0", Value::number(10));
  set("group.message2", Value::number(30));
  set("group.inputSendAll", Value::boolean(true));
  tick();
  EXPECT_EQ(gathered(), (std::vector<Value>{Value::number(10), Value::number(30)}))
      << "an input without a value is left out";
  set("group.message2", Value::number(31));
  tick();
  EXPECT_EQ(gathered(), (std::vector<Value>{Value::number(10), Value::number(31)}));
}

TEST_F(CollectorPatchTest, AnEvaluationThatGathersNothingLeavesThePreviousStructure) {
  group_.setNumberOfMessages(2);
  set("group.message0", Value::number(5));
  tick();
  set("group.inputSendAll", Value::boolean(true));
  tick();
  set("group.inputSendAll", Value::boolean(false));  // runs, but no message input changed
  tick();
  EXPECT_EQ(gathered(), std::vector<Value>{Value::number(5)});
  executeRegardless("group");
  EXPECT_EQ(gathered(), std::vector<Value>{Value::number(5)});
}

TEST_F(CollectorPatchTest, ValuesEnterTheStructureAsTheHostGaveThem) {
  group_.setNumberOfMessages(2);
  set("group.message0", Value::number(9452644.7));
  set("group.message1", Value::number(-3));
  tick();
  EXPECT_EQ(gathered(), (std::vector<Value>{Value::number(9452644.7), Value::number(-3)}));
}

TEST_F(CollectorPatchTest, LoweringTheNumberRemovesTheTopInputsAndKeepsTheOthersConnected) {
  composition_->addPatch("a", "MIDI_MessagePlugIn");
  composition_->addPatch("b", "MIDI_MessagePlugIn");
  group_.setNumberOfMessages(4);
  connect("a.outputMessage", "group.message1");
  connect("b.outputMessage", "group.message3");
  set("group.message0", Value::number(7));
  group_.setNumberOfMessages(2);
  EXPECT_EQ(messageInputs(), (std::vector<std::string>{"message0", "message1"}));
  EXPECT_EQ(composition_->connections(),
            (std::vector<Connection>{{{"a", "outputMessage"}, {"group", "message1"}}}));
  EXPECT_EQ(composition_->inputValue(at("group.message0")), Value::number(7));

  group_.setNumberOfMessages(4);
  EXPECT_EQ(messageInputs(),
            (std::vector<std::string>{"message0", "message1", "message2", "message3"}));
  EXPECT_EQ(displayName("message2"), "Message 3");
  EXPECT_EQ(displayName("message3"), "Message 4");
}

TEST_F(CollectorPatchTest, SettingTheCurrentNumberChangesNothing) {
  group_.setNumberOfMessages(3);
  set("group.message2", Value::number(4));
  group_.setNumberOfMessages(3);
  EXPECT_EQ(messageInputs().size(), 3u);
  EXPECT_EQ(composition_->inputValue(at("group.message2")), Value::number(4));
}

TEST_F(CollectorPatchTest, ZeroInputsRemovesThemAllAndTheOutputIsNeverAssignedAgain) {
  set("group.message0", Value::number(1));
  tick();
  group_.setNumberOfMessages(0);
  EXPECT_TRUE(messageInputs().empty());
  set("group.inputSendAll", Value::boolean(true));
  tick();
  EXPECT_EQ(gathered(), std::vector<Value>{Value::number(1)});
}

TEST_F(CollectorPatchTest, ThePanelsNumberFieldGoesThroughTheSettingsSetter) {
  QCPlugInViewController* panel = composition_->openPanel("group");
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(panel->viewNibName(), "SettingsForMIDIGroup");
  EXPECT_EQ(&panel->plugIn(), &group_);
  NumberControl* number = panel->numberControlNamed("numberOfMessages");
  ASSERT_NE(number, nullptr);
  performOnMainThreadAndWait([&] { number->userSetValue(5); });
  EXPECT_EQ(group_.numberOfMessages(), 5u);
  EXPECT_EQ(messageInputs().size(), 5u);
  EXPECT_EQ(number->value(), 5u);
  composition_->closePanel("group");
}

TEST_F(CollectorPatchTest, TheSavedNumberIsRestoredThroughTheSetterBeforeConnecting) {
  composition_->addPatch("note", "MIDI_MessagePlugIn");
  group_.setNumberOfMessages(3);
  connect("note.outputMessage", "group.message2");
  const std::string saved = CompositionFile::serialize(*composition_);
  EXPECT_NE(saved.find("\"numberOfMessages\": 3"), std::string::npos) << saved;

  auto loaded = CompositionFile::parse(saved, "saved", registry_);
  auto& group = dynamic_cast<MIDI_GroupPlugIn&>(*loaded->patch("group"));
  EXPECT_EQ(group.numberOfMessages(), 3u);
  EXPECT_TRUE(loaded->isConnected({"group", "message2"}));
  loaded->setInputValue({"note", "inputMessageType"}, Value::index(1));
  loaded->evaluate(0);
  EXPECT_EQ(loaded->outputValue({"group", "outputMessages"}),
            Value::structure(Structure::makeList({Value::number(0x900000)})));
}

TEST_F(CollectorPatchTest, AFileNumberOfInputsMustBeAWholeNumberUpTo1024) {
  const std::pair<const char*, const char*> refused[] = {{"-1", "got -1"},
                                                         {"2.5", "got 2.5"},
                                                         {"true", "got a boolean"},
                                                         {"5000", "got 5000"},
                                                         {"4000000000", "got 4000000000"},
                                                         {"\"3\"", "got a string"}};
  for (const auto& [json, shown] : refused) {
    const std::string file =
        std::string(R"({"format": "wexmidi composition", "version": 1, "patches": [
      {"id": "g", "class": "MIDI_GroupPlugIn", "settings": {"numberOfMessages": )") +
        json + "}}]}";
    try {
      CompositionFile::parse(file, "big.json", registry_);
      ADD_FAILURE() << json << " accepted";
    } catch (const CompositionFileError& error) {
      EXPECT_NE(std::string(error.what())
                    .find(std::string("big.json: patches[0].settings.numberOfMessages: "
                                      "numberOfMessages takes a whole number from 0 to 1024, ") +
                          shown),
                std::string::npos)
          << error.what();
    }
  }
  const std::string whole = R"({"format": "wexmidi composition", "version": 1, "patches": [
      {"id": "g", "class": "MIDI_GroupPlugIn", "settings": {"numberOfMessages": 3.0}}]})";
  auto loaded = CompositionFile::parse(whole, "whole.json", registry_);
  EXPECT_EQ(dynamic_cast<MIDI_GroupPlugIn&>(*loaded->patch("g")).numberOfMessages(), 3u);
}

}  // namespace
}  // namespace wex
