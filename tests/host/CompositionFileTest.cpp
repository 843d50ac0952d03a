#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "TestPatches.h"
#include "host/CompositionFile.h"
#include "host/JSONReader.h"

namespace wex {
namespace {

const char* const kComposition = R"({
  "format": "wexmidi composition",
  "version": 1,
  "patches": [
    {"id": "dyn", "class": "DynamicPlugIn", "settings": {"portCount": 3},
     "inputs": {"in0": 1.5, "in2": 4}},
    {"id": "add", "class": "AdderPlugIn", "inputs": {"inputB": 2.0, "inputLevel": 5e2,
                                                    "inputGate": true}},
    {"id": "rec", "class": "RecorderPlugIn", "inputs": {"inputText": "hello"}},
    {"id": "more", "class": "DynamicPlugIn", "settings": {"portCount": 2}}
  ],
  "connections": [
    {"from": "dyn.out2", "to": "add.inputA"},
    {"from": "add.outputSum", "to": "rec.inputValue"},
    {"from": "add.outputSum", "to": "more.in1"}
  ]
})";

class CompositionFileTest : public ::testing::Test {
 protected:
  CompositionFileTest() {
    test::registerTestPatches(registry_);
    directory_ = std::filesystem::temp_directory_path() /
                 ("wexmidi-file-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory_);
  }
  ~CompositionFileTest() override { std::filesystem::remove_all(directory_); }

  std::string path(const std::string& name) const { return (directory_ / name).string(); }
  static std::string read(const std::string& file) {
    std::ifstream stream(file);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
  }

  PlugInRegistry registry_;
  std::filesystem::path directory_;
};

TEST_F(CompositionFileTest, LoadingRestoresSettingsBeforeInputsAndConnectionsToAddedPorts) {
  auto composition = CompositionFile::parse(kComposition, "test", registry_);
  auto& dynamic = dynamic_cast<test::DynamicPlugIn&>(*composition->patch("dyn"));
  EXPECT_EQ(dynamic.portCount(), 3u);
  EXPECT_EQ(composition->inputValue({"dyn", "in2"}), Value::number(4));
  EXPECT_EQ(composition->inputValue({"add", "inputLevel"}), Value::index(127))
      << "index inputs are kept within their maximum";
  EXPECT_EQ(composition->connections().size(), 3u);

  composition->evaluate(0);
  EXPECT_EQ(composition->outputValue({"add", "outputSum"}), Value::number(6));
  EXPECT_EQ(composition->inputValue({"rec", "inputValue"}), Value::number(6));
}

TEST_F(CompositionFileTest, SavingThenLoadingThenSavingGivesTheSameFile) {
  auto composition = CompositionFile::parse(kComposition, "test", registry_);
  composition->evaluate(0);
  CompositionFile::save(*composition, path("first.json"));
  auto reloaded = CompositionFile::load(path("first.json"), registry_);
  CompositionFile::save(*reloaded, path("second.json"));
  EXPECT_EQ(read(path("first.json")), read(path("second.json")));

  const std::string text = read(path("first.json"));
  EXPECT_NE(text.find("\"portCount\": 3"), std::string::npos) << text;
  EXPECT_EQ(text.find("\"inputA\""), std::string::npos) << "connected inputs are not saved";
}

TEST_F(CompositionFileTest, SavingReplacesTheOldFileAndLeavesNothingBeside) {
  auto composition = CompositionFile::parse(kComposition, "test", registry_);
  {
    std::ofstream old(path("comp.json"));
    old << "old contents";
  }
  CompositionFile::save(*composition, path("comp.json"));
  EXPECT_EQ(read(path("comp.json")), CompositionFile::serialize(*composition));
  size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory_)) {
    ++files;
  }
  EXPECT_EQ(files, 1u);
  EXPECT_THROW(CompositionFile::save(*composition, path("missing-folder/comp.json")),
               CompositionFileError);
}

TEST_F(CompositionFileTest, ASaveThatLoadingWouldRefuseIsNotWrittenAndTheOldFileStays) {
  struct Case {
    const char* name;
    std::function<void(Composition&)> grow;
    std::string expected;
  };
  const Case cases[] = {
      {"too many patches",
       [](Composition& composition) {
         composition.beginChanges();
         for (size_t i = composition.patchIds().size(); i <= CompositionFile::kMaxPatches; ++i) {
           composition.addPatch("a" + std::to_string(i), "AdderPlugIn");
         }
         composition.commitChanges();
       },
       "10001 patches, more than the 10000 a composition may hold"},
      {"too large",
       [](Composition& composition) {
         composition.setInputValue({"rec", "inputText"},
                                   Value::string(std::string(CompositionFile::kMaxFileSize, 'x')));
       },
       "it would take 64 MiB, more than the 64 MiB a file may hold"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      std::ofstream old(path("comp.json"));
      old << "old contents";
    }
    auto composition = CompositionFile::parse(kComposition, "test", registry_);
    c.grow(*composition);
    try {
      CompositionFile::save(*composition, path("comp.json"));
      ADD_FAILURE() << "saved";
    } catch (const CompositionFileError& error) {
      EXPECT_EQ(std::string(error.what()), path("comp.json") + ": cannot write the file: " +
                                               c.expected + "; the file is left as it was");
    }
    EXPECT_EQ(read(path("comp.json")), "old contents");
  }
}

TEST_F(CompositionFileTest, PositionsAreKeptByTheFileAndAFileWithoutThemStillLoads) {
  auto composition = CompositionFile::parse(kComposition, "test", registry_);
  EXPECT_FALSE(composition->positions().get("add"));
  composition->positions().set("add", {120.5, -4});
  CompositionFile::save(*composition, path("placed.json"));
  auto reloaded = CompositionFile::load(path("placed.json"), registry_);
  EXPECT_EQ(reloaded->positions().get("add"), (PatchPositions::Point{120.5, -4}));
  EXPECT_FALSE(reloaded->positions().get("dyn"));
  EXPECT_EQ(CompositionFile::serialize(*reloaded), CompositionFile::serialize(*composition));
}

TEST_F(CompositionFileTest, RemovingAPatchTakesItsConnectionsAndPositionAlong) {
  auto composition = CompositionFile::parse(kComposition, "test", registry_);
  composition->positions().set("add", {1, 2});
  composition->removePatch("add");
  EXPECT_EQ(composition->patchIds(), (std::vector<std::string>{"dyn", "rec", "more"}));
  EXPECT_TRUE(composition->connections().empty());
  EXPECT_FALSE(composition->positions().get("add"));
  EXPECT_THROW(composition->removePatch("add"), CompositionError);
  composition->evaluate(0);
}

TEST_F(CompositionFileTest, AMissingFileIsOneErrorNamingIt) {
  try {
    CompositionFile::load(path("absent.json"), registry_);
    FAIL();
  } catch (const CompositionFileError& error) {
    EXPECT_NE(std::string(error.what()).find("absent.json: cannot read the file"),
              std::string::npos);
  }
}

TEST_F(CompositionFileTest, ADirectoryOrAnEndlessOrHugeFileIsRefusedBeforeItIsRead) {
  const std::string huge = path("huge.json");
  std::filesystem::resize_file((std::ofstream(huge), huge), CompositionFile::kMaxFileSize + 1);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {directory_.string(), "is a directory, not a file"},
      {"/dev/zero", "the file is larger than 64 MiB"},
      {huge, "the file is larger than 64 MiB"}};
  for (const auto& [file, expected] : cases) {
    try {
      CompositionFile::load(file, registry_);
      ADD_FAILURE() << file << " was accepted";
    } catch (const CompositionFileError& error) {
      EXPECT_EQ(std::string(error.what()), file + ": " + expected);
    }
  }
}

struct BadFile {
  const char* name;
  std::string text;
  std::string expectedError;
};

std::string withPatches(const std::string& patches, const std::string& connections = "[]") {
  return R"({"format": "wexmidi composition", "version": 1, "patches": )" + patches +
         R"(, "connections": )" + connections + "}";
}

// "[[],[],...]": a short text that costs much memory once read.
std::string emptyLists(size_t count) {
  std::string text = "[";
  for (size_t i = 0; i < count; ++i) text += i == 0 ? "[]" : ",[]";
  return text + "]";
}

const std::string kTwoAdders =
    R"([{"id": "a", "class": "AdderPlugIn"}, {"id": "b", "class": "AdderPlugIn"}])";

class BadFileTest : public CompositionFileTest, public ::testing::WithParamInterface<BadFile> {};

TEST_P(BadFileTest, IsRefusedWithOneErrorNamingThePlaceInTheFile) {
  try {
    CompositionFile::parse(GetParam().text, "bad.json", registry_);
    FAIL() << "the file was accepted";
  } catch (const CompositionFileError& error) {
    EXPECT_EQ(
        std::string(error.what()).rfind(std::string("bad.json: ") + GetParam().expectedError, 0),
        0u)
        << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadFileTest,
    ::testing::Values(
        BadFile{"NotJSON", "{\"format\": \n  oops}", "not valid JSON: parse error at line 2"},
        BadFile{"NumberBeyondDouble", "{\"version\": 97.2e2132}",
                "version: the number 97.2e2132 is beyond the range of a double"},
        BadFile{"NumberOfManyDigitsBeyondDouble", "{\"a\": [1, 2, 1" + std::string(400, '0') + "]}",
                "a[2]: the number 100000000000000000000000... is beyond the range of a double"},
        BadFile{"DuplicateKey", withPatches(R"([{"id": "a", "class": "AdderPlugIn",
                                 "inputs": {"inputA": 1, "inputA": 2}}])"),
                "patches[0].inputs.inputA: duplicate key \"inputA\""},
        BadFile{"NestingTooDeep",
                withPatches(R"([{"id": "a", "class": "AdderPlugIn", "inputs": {"inputA": )" +
                            std::string(10000, '[') + std::string(10000, ']') + "}}]"),
                "patches[0].inputs.inputA[0][0][0]"},
        BadFile{"TooManyValues",
                withPatches(R"([{"id": "a", "class": "AdderPlugIn", "inputs": {"inputA": )" +
                            emptyLists(JSONReader::kMaxValues / 2) + "}}]"),
                "patches[0].inputs.inputA[1249993]: more than 2500000 values in one text"},
        BadFile{"VersionWithAFraction", R"({"format": "wexmidi composition", "version": 1.0,
                "patches": []})",
                "version: expected a whole format version such as 1, got 1.0"},
        BadFile{"NotAnObject", "[1, 2]", "the file must hold one JSON object"},
        BadFile{"WrongFormat", R"({"format": "other", "version": 1, "patches": []})",
                "format: expected \"wexmidi composition\""},
        BadFile{"MissingVersion", R"({"format": "wexmidi composition", "patches": []})",
                "version: missing member \"version\""},
        BadFile{"NewerVersion", R"({"format": "wexmidi composition", "version": 2,
                "patches": []})",
                "version: format version 2 is not supported"},
        BadFile{"UnknownTopMember", R"({"format": "wexmidi composition", "version": 1,
                "patches": [], "extra": 1})",
                "extra: unknown member"},
        BadFile{"PatchesNotAList", withPatches("{}"), "patches: expected a list, got an object"},
        BadFile{"UnknownClass", withPatches(R"([{"id": "a", "class": "Nope"}])"),
                "patches[0].class: unknown patch class \"Nope\""},
        BadFile{"MissingId", withPatches(R"([{"class": "AdderPlugIn"}])"),
                "patches[0]: missing member \"id\""},
        BadFile{"DuplicateId", withPatches(R"([{"id": "a", "class": "AdderPlugIn"},
                                {"id": "a", "class": "RecorderPlugIn"}])"),
                "patches[1].id: duplicate patch id \"a\""},
        BadFile{"IdWithADot", withPatches(R"([{"id": "a.b", "class": "AdderPlugIn"}])"),
                "patches[0].id: a patch id must be non-empty"},
        BadFile{"UnknownInput",
                withPatches(R"([{"id": "a", "class": "AdderPlugIn", "inputs": {"inputX": 1}}])"),
                "patches[0].inputs.inputX: AdderPlugIn patch \"a\" has no input port \"inputX\""},
        BadFile{
            "InputNameWithANul",
            withPatches(R"([{"id": "a", "class": "AdderPlugIn", "inputs": {"in\u0000x": 1}}])"),
            "patches[0].inputs.in\\x00x: AdderPlugIn patch \"a\" has no input port \"in\\x00x\""},
        BadFile{"LongInputName",
                withPatches(R"([{"id": "a", "class": "AdderPlugIn", "inputs": {")" +
                            std::string(1000, 'k') + R"(": 1}}])"),
                "patches[0].inputs." + std::string(80, 'k') +
                    "...: AdderPlugIn patch \"a\" has no input port \"" + std::string(80, 'k') +
                    "...\""},
        BadFile{"OutputGivenAsInput", withPatches(R"([{"id": "a", "class": "AdderPlugIn",
                                 "inputs": {"outputSum": 1}}])"),
                "patches[0].inputs.outputSum: AdderPlugIn patch \"a\" has no input port"},
        BadFile{"PositionNotAPair", withPatches(R"([{"id": "a", "class": "AdderPlugIn",
                                 "position": [1, "two"]}])"),
                "patches[0].position: expected a list of two numbers [x, y]"},
        BadFile{"WrongValueType", withPatches(R"([{"id": "a", "class": "AdderPlugIn",
                                 "inputs": {"inputA": "five"}}])"),
                "patches[0].inputs.inputA: input of type number: expected a number, got a string"},
        BadFile{"NegativeIndex", withPatches(R"([{"id": "a", "class": "AdderPlugIn",
                                 "inputs": {"inputLevel": -1}}])"),
                "patches[0].inputs.inputLevel: input of type index: expected an index"},
        BadFile{"IndexBeyondItsRange", withPatches(R"([{"id": "a", "class": "AdderPlugIn",
                                 "inputs": {"inputLevel": 18446744073709551616}}])"),
                "patches[0].inputs.inputLevel: input of type index: expected an index (a whole "
                "number from 0 to 18446744073709551615), got a whole number beyond that range"},
        BadFile{"IndexWithAFraction", withPatches(R"([{"id": "a", "class": "AdderPlugIn",
                                 "inputs": {"inputLevel": 1.5}}])"),
                "patches[0].inputs.inputLevel: input of type index: expected an index (a whole "
                "number from 0 to 18446744073709551615), got a number with a fraction"},
        BadFile{"UnknownSetting",
                withPatches(R"([{"id": "a", "class": "AdderPlugIn", "settings": {"x": 1}}])"),
                "patches[0].settings.x: \"x\" is not a setting of AdderPlugIn"},
        BadFile{"SettingOfTheWrongKind", withPatches(R"([{"id": "d", "class": "DynamicPlugIn",
                                 "settings": {"portCount": "two"}}])"),
                "patches[0].settings.portCount: setting \"portCount\" takes an index"},
        BadFile{"InputOfAPortTheSettingsDoNotMake",
                withPatches(R"([{"id": "d", "class": "DynamicPlugIn",
                                 "settings": {"portCount": 1}, "inputs": {"in1": 1}}])"),
                "patches[0].inputs.in1: DynamicPlugIn patch \"d\" has no input port \"in1\""},
        BadFile{"ConnectionToAMissingPatch",
                withPatches(kTwoAdders, R"([{"from": "a.outputSum", "to": "c.inputA"}])"),
                "connections[0]: there is no patch \"c\""},
        BadFile{"ConnectionToAMissingPort",
                withPatches(kTwoAdders, R"([{"from": "a.outputSum", "to": "b.inputZ"}])"),
                "connections[0]: patch \"b\" has no input port \"inputZ\""},
        BadFile{"ConnectionFromAMissingPort",
                withPatches(kTwoAdders, R"([{"from": "a.outputZ", "to": "b.inputA"}])"),
                "connections[0]: patch \"a\" has no output port \"outputZ\""},
        BadFile{"MalformedAddress", withPatches(kTwoAdders, R"([{"from": "a", "to": "b.inputA"}])"),
                "connections[0].from: expected \"id.port\", got \"a\""},
        BadFile{"InputConnectedTwice",
                withPatches(kTwoAdders, R"([{"from": "a.outputSum", "to": "b.inputA"},
                                            {"from": "a.outputSum", "to": "b.inputA"}])"),
                "connections[1]: input b.inputA is connected already"},
        BadFile{"Cycle", withPatches(kTwoAdders, R"([{"from": "a.outputSum", "to": "b.inputA"},
                                            {"from": "b.outputSum", "to": "a.inputA"}])"),
                "connections[1]: connecting b.outputSum to a.inputA makes a cycle: a -> b -> a"},
        BadFile{"FirstOfTwoCycles",
                withPatches(R"([{"id": "a", "class": "AdderPlugIn"},
                                {"id": "b", "class": "AdderPlugIn"},
                                {"id": "c", "class": "AdderPlugIn"}])",
                            R"([{"from": "a.outputSum", "to": "b.inputA"},
                                {"from": "b.outputSum", "to": "c.inputA"},
                                {"from": "c.outputSum", "to": "b.inputB"},
                                {"from": "b.outputSum", "to": "a.inputA"}])"),
                "connections[2]: connecting c.outputSum to b.inputB makes a cycle: b -> c -> b"},
        BadFile{"ConnectionOfOtherKinds",
                withPatches(R"([{"id": "a", "class": "AdderPlugIn"},
                                {"id": "r", "class": "RecorderPlugIn"}])",
                            R"([{"from": "a.outputSum", "to": "r.inputText"}])"),
                "connections[0]: cannot connect the number output a.outputSum to the string "
                "input r.inputText"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace wex
