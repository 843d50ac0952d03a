#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/WexmidiProgram.h"
#include "server/CompositionCommands.h"
#include "shared/TestPaths.h"

namespace wex {
namespace {

using Json = nlohmann::json;

constexpr size_t kLineLimit = CompositionCommands::kMaxLineLength;

const std::string kExample =
    std::string(::wex::test::kSourceDir) + "/examples/composer.wexcomp.json";

struct Result {
  int status = -1;
  std::vector<std::string> lines;
  std::string err;
};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::string readFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// The program in this process, with the given standard input.
Result runInProcess(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), "wexmidi");
  std::vector<const char*> argv;
  for (const auto& arg : args) argv.push_back(arg.c_str());
  std::istringstream in(input);
  std::ostringstream out, err;
  Result result;
  result.status = WexmidiProgram().run(static_cast<int>(argv.size()), argv.data(), in, out, err);
  result.lines = splitLines(out.str());
  result.err = err.str();
  return result;
}

class CompositionCommandsTest : public ::testing::Test {
 protected:
  CompositionCommandsTest() {
    directory_ =
        std::filesystem::temp_directory_path() / ("wexmidi-app-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory_);
  }
  ~CompositionCommandsTest() override { std::filesystem::remove_all(directory_); }

  std::string path(const std::string& name) const { return (directory_ / name).string(); }

  // The built program as a user runs it, through the shell.
  Result runProgram(const std::string& arguments, const std::string& stdinRedirect = "</dev/null") {
    const std::string out = path("out.txt");
    const std::string err = path("err.txt");
    const std::string command = std::string(::wex::test::kProgramPath) + " " + arguments + " " +
                                stdinRedirect + " >" + out + " 2>" + err;
    const int raw = std::system(command.c_str());
    Result result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.lines = splitLines(readFile(out));
    result.err = readFile(err);
    return result;
  }

  static std::vector<Json> watchLines(const Result& result) {
    std::vector<Json> lines;
    for (const auto& line : result.lines) {
      Json json = Json::parse(line, nullptr, false);  // serve's address line is no JSON
      if (json.is_object() && json.contains("port")) lines.push_back(json);
    }
    return lines;
  }

  std::filesystem::path directory_;
};

TEST_F(CompositionCommandsTest, RunningTheComposerExamplePrintsItsMessageNumbersAsJsonLines) {
  const Result result =
      runProgram("--midi embedded run " + kExample + " --for 1 --watch 'group.*'");
  ASSERT_EQ(result.status, 0) << result.err;
  const auto lines = watchLines(result);
  ASSERT_EQ(lines.size(), 1u) << "the composers run once: their inputs never change";
  EXPECT_EQ(lines[0]["port"], "group.outputMessages");
  EXPECT_TRUE(lines[0]["time"].is_number());
  EXPECT_EQ(lines[0]["value"], Json::parse("[9452644.0, 11601791.0, 11609983.0]"));
}

TEST_F(CompositionCommandsTest, CtrlCSigtermAndSighupEndTheRunCleanlyWithStatusZeroAndSave) {
  for (const char* signal : {"INT", "TERM", "HUP"}) {
    SCOPED_TRACE(signal);
    const std::string out = path(std::string("signal-") + signal + ".txt");
    const std::string saved = path(std::string("saved-") + signal + ".json");
    // Signal once the first watched line shows that the run is under way.
    const std::string script =
        std::string(::wex::test::kProgramPath) + " --midi embedded run " + kExample +
        " --watch note.outputMessage --save " + saved + " </dev/null >" + out + " 2>&1 & pid=$!; " +
        "for i in $(seq 1 600); do [ -s " + out + " ] && break; sleep 0.1; done; " + "kill -" +
        signal + " $pid; wait $pid";
    const int raw = std::system(("sh -c '" + script + "'").c_str());
    ASSERT_TRUE(WIFEXITED(raw)) << readFile(out);
    EXPECT_EQ(WEXITSTATUS(raw), 0) << readFile(out);
    EXPECT_NE(readFile(out).find("9452644"), std::string::npos);
    EXPECT_NE(readFile(saved).find("wexmidi composition"), std::string::npos);
  }
}

TEST_F(CompositionCommandsTest, TheRunEndsWhenNobodyReadsItsOutputEvenWithNothingMoreToWrite) {
  // The composer prints its one line and then nothing more; head takes it
  // and goes. Without the end, timeout would end the run with 124.
  const std::string script = "timeout 120 " + std::string(::wex::test::kProgramPath) +
                             " --midi embedded run " + kExample +
                             " --watch note.outputMessage </dev/null | head -n 1 >/dev/null; "
                             "exit ${PIPESTATUS[0]}";
  const int raw = std::system(("bash -c '" + script + "'").c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 0);
}

TEST_F(CompositionCommandsTest, CommandsOnStandardInputSetInputsEditPanelsAndSave) {
  const std::string input =
      "{\"set\": \"note.inputData2\", \"value\": 90}\n"
      "not json\n"
      "{\"panel\": \"group\", \"number\": \"numberOfMessages\", \"value\": 4}\n"
      "{\"set\": \"group.message3\", \"value\": 5}\n"
      "{\"save\": \"" +
      path("during.json") + "\"}\n";
  const Result result =
      runInProcess({"--midi", "embedded", "run", kExample, "--for", "0.5", "--watch",
                    "note.outputMessage", "--save", path("after.json")},
                   input);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.err.find("wexmidi run: standard input line 2: not valid JSON: parse error at "
                            "line 1, column 2"),
            std::string::npos)
      << result.err;

  bool sawPanel = false, sawSaved = false;
  for (const auto& line : result.lines) {
    const Json json = Json::parse(line);
    if (json.contains("panel")) {
      sawPanel = true;
      EXPECT_EQ(json["panel"]["numbers"][0]["value"], 4);
    }
    if (json.contains("saved")) sawSaved = true;
  }
  EXPECT_TRUE(sawPanel);
  EXPECT_TRUE(sawSaved);
  const auto watched = watchLines(result);
  ASSERT_FALSE(watched.empty());
  EXPECT_EQ(watched.back()["value"], 0x903C5A);

  const Json saved = Json::parse(readFile(path("after.json")));
  EXPECT_EQ(saved["patches"][2]["settings"]["numberOfMessages"], 4);
  EXPECT_EQ(saved["patches"][2]["inputs"]["message3"], 5.0);
  EXPECT_EQ(saved["patches"][0]["inputs"]["inputData2"], 90);
  EXPECT_EQ(readFile(path("during.json")), readFile(path("after.json")));
}

TEST_F(CompositionCommandsTest, EachBadCommandLineIsOneErrorWithItsNumberAndTheRunGoesOn) {
  const std::vector<std::pair<std::string, std::string>> lines = {
      {R"({"panel": "group", "close": "yes"})", "\"close\" must be true or false, got a string"},
      {R"({"panel": "group", "close": 1})", "\"close\" must be true or false"},
      {R"({"panel": "group", "close": null})", "\"close\" must be true or false, got null"},
      {"1", "expected a JSON object per line, got: 1"},
      {"null", "expected a JSON object per line"},
      {R"({"set": "note.inputData1", "value": 1e400})",
       "value: the number 1e400 is beyond the range of a double"},
      {R"({"set": "note.inputData1", "value": 1, "value": 2})", "value: duplicate key \"value\""},
      {R"({"set": "note.inputData1", "value": )" + std::string(10000, '[') + "}",
       "nested deeper than 65 levels"},
      {R"({"set": 7, "value": 1})", "\"set\" must be a string"},
      {R"({"panel": "group", "tick": "x"})", "\"tick\" must be a row number"},
      {R"({"panel": "group", "switch": "learn", "state": 3})", "\"state\" must be \"on\""},
      {R"({"panel": "group", "number": "numberOfMessages", "value": -1})",
       "\"value\" must be an unsigned integer"},
      {R"({"save": ""})", "\"save\" needs a file name"},
      {R"({"save": "/nonexistent/x.json"})", "cannot write the file"},
      {"{\"set\": \"" + std::string(kLineLimit + 1, 'x') + "\"}",
       "the line is longer than 1024 KiB"},
      {R"({"unknown": 1})", "unknown command (set, panel, save, undo or redo)"},
  };
  std::string input;
  for (const auto& [line, error] : lines) input += line + "\n";
  input += R"({"set": "note.inputData2", "value": 91})"
           "\n";
  const Result result = runInProcess(
      {"--midi", "embedded", "run", kExample, "--for", "0.5", "--save", path("after.json")}, input);
  ASSERT_EQ(result.status, 0) << result.err;
  const auto errors = splitLines(result.err);
  ASSERT_EQ(errors.size(), lines.size()) << result.err;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string prefix = "wexmidi run: standard input line " + std::to_string(i + 1) + ": ";
    EXPECT_EQ(errors[i].rfind(prefix, 0), 0u) << errors[i];
    EXPECT_NE(errors[i].find(lines[i].second), std::string::npos) << errors[i];
    EXPECT_LT(errors[i].size(), 400u) << "an error quotes a long line only in part";
  }
  const Json saved = Json::parse(readFile(path("after.json")));
  EXPECT_EQ(saved["patches"][0]["inputs"]["inputData2"], 91) << "the line after the bad ones";
}

TEST_F(CompositionCommandsTest, ServeWatchesAndSavesAsRunDoes) {
  std::map<std::string, std::vector<Json>> values;
  for (const std::string command : {"run", "serve"}) {
    const std::string extra = command == "serve" ? " --listen 127.0.0.1:0" : "";
    const Result result = runProgram(
        "--midi embedded " + command + " " + kExample + extra +
        " --for 0.5 --set note.inputData2=90 --watch 'note.*' --save " + path(command + ".json"));
    ASSERT_EQ(result.status, 0) << command << ": " << result.err;
    for (const auto& line : watchLines(result)) {
      EXPECT_TRUE(line["time"].is_number());
      values[command].push_back(Json{{"port", line["port"]}, {"value", line["value"]}});
    }
    if (command == "serve") {
      ASSERT_FALSE(result.lines.empty());
      EXPECT_EQ(result.lines[0].rfind("http://127.0.0.1:", 0), 0u) << "the address comes first";
    }
  }
  EXPECT_EQ(values["serve"], values["run"]);
  ASSERT_FALSE(values["run"].empty());
  EXPECT_EQ(values["run"].back()["value"], 0x903C5A);
  EXPECT_EQ(readFile(path("serve.json")), readFile(path("run.json")));
}

TEST_F(CompositionCommandsTest, SetOptionsApplyBeforeTheFirstEvaluation) {
  const Result result =
      runInProcess({"--midi", "embedded", "run", kExample, "--for", "0.2", "--set",
                    "note.inputMessageType=3", "--set", "note.inputData1=7", "--watch", "note.*"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto lines = watchLines(result);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["port"], "note.outputMessage");
  EXPECT_EQ(lines[0]["value"], 0xB00764);
}

struct UsageCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  const char* error;
};

class RunRefusalTest : public CompositionCommandsTest,
                       public ::testing::WithParamInterface<UsageCase> {};

TEST_P(RunRefusalTest, EndsWithItsStatusAndOneClearError) {
  std::vector<std::string> args{"--midi", "embedded"};
  for (const auto& arg : GetParam().args) args.push_back(arg == "EXAMPLE" ? kExample : arg);
  const Result result = runInProcess(args);
  EXPECT_EQ(result.status, GetParam().status);
  EXPECT_NE(result.err.find(GetParam().error), std::string::npos) << result.err;
  EXPECT_TRUE(result.lines.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, RunRefusalTest,
    ::testing::Values(
        UsageCase{"MissingFile",
                  {"run", "/nonexistent/c.json", "--for", "0"},
                  1,
                  "wexmidi run: /nonexistent/c.json: cannot read the file"},
        UsageCase{"SetOfAnUnknownPort",
                  {"run", "EXAMPLE", "--set", "note.inputX=1"},
                  2,
                  "patch \"note\" has no input port \"inputX\""},
        UsageCase{
            "SetOfTheWrongKind",
            {"run", "EXAMPLE", "--set", "note.inputData1=loud"},
            2,
            "expected an index (a whole number from 0 to 18446744073709551615), got a string"},
        UsageCase{"SetOfAFraction",
                  {"run", "EXAMPLE", "--set", "note.inputData1=1.5"},
                  2,
                  "expected an index (a whole number from 0 to 18446744073709551615), got a number "
                  "with a fraction"},
        UsageCase{
            "PlayOfNoFile", {"run", "EXAMPLE", "--play", ""}, 2, "--play: expected a file name"},
        UsageCase{"DirectoryAsComposition",
                  {"run", "/tmp", "--for", "0"},
                  1,
                  "wexmidi run: /tmp: is a directory, not a file"},
        UsageCase{"EndlessComposition",
                  {"run", "/dev/zero", "--for", "0"},
                  1,
                  "wexmidi run: /dev/zero: the file is larger than 64 MiB"},
        UsageCase{"DurationThatWouldOverflow",
                  {"run", "EXAMPLE", "--for", "1e10"},
                  2,
                  "--for: expected a number of seconds from 0 to 1000000000\n"},
        UsageCase{"DurationNotANumber",
                  {"run", "EXAMPLE", "--for", "nan"},
                  2,
                  "--for: expected a number of seconds from 0 to 1000000000\n"},
        UsageCase{"DurationBeyondADouble",
                  {"run", "EXAMPLE", "--for", "1e400"},
                  2,
                  "--for: expected a number of seconds from 0 to 1000000000\n"},
        UsageCase{"RateNotANumber",
                  {"run", "EXAMPLE", "--rate", "nan"},
                  2,
                  "--rate: expected a number of evaluations per second"},
        UsageCase{"SaveWithoutAName",
                  {"run", "EXAMPLE", "--save", ""},
                  2,
                  "--save: expected a file name"},
        UsageCase{"SetOfANumberBeyondADouble",
                  {"run", "EXAMPLE", "--set", "note.inputData1=1e400"},
                  2,
                  "the number 1e400 is beyond the range of a double"},
        UsageCase{"SetOfAValueNestedTooDeep",
                  {"run", "EXAMPLE", "--set",
                   "note.inputData1=" + std::string(65, '[') + std::string(65, ']')},
                  2,
                  "nested deeper than 64 levels"},
        UsageCase{"SetOfAValueNestedToTheLimitIsReadAndThenRefusedForItsType",
                  {"run", "EXAMPLE", "--set",
                   "note.inputData1=" + std::string(64, '[') + std::string(64, ']')},
                  2,
                  "input of type index: expected an index"},
        UsageCase{"ServeWatchOfAnUnknownPatch",
                  {"serve", "EXAMPLE", "--listen", "127.0.0.1:0", "--watch", "nobody.*"},
                  2,
                  "wexmidi serve: --watch nobody.*: there is no patch \"nobody\""},
        UsageCase{"ServeTokenTooShortToBeSafe",
                  {"serve", "EXAMPLE", "--listen", "127.0.0.1:0", "--token", "s3cret"},
                  2,
                  "wexmidi serve: --token must have at least 16 characters"},
        UsageCase{"WatchOfAnUnknownPatch",
                  {"run", "EXAMPLE", "--watch", "nobody.*"},
                  2,
                  "there is no patch \"nobody\""},
        UsageCase{"PanelOfAPatchWithoutOne",
                  {"panel", "EXAMPLE", "note"},
                  1,
                  "patch \"note\" has no settings panel"},
        UsageCase{"PanelSwitchWithoutState",
                  {"panel", "EXAMPLE", "group", "--switch", "x"},
                  2,
                  "--switch takes NAME=on|off"},
        UsageCase{"PanelNumberOutOfRange",
                  {"panel", "EXAMPLE", "group", "--set", "numberOfMessages=5000"},
                  1,
                  "number \"numberOfMessages\" takes 0 to 1024"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CompositionCommandsTest, APanelEditGoesThroughThePanelAndIsSavedInTheFile) {
  std::filesystem::copy_file(kExample, path("c.json"));
  const Result edited = runInProcess({"--midi", "embedded", "panel", path("c.json"), "group",
                                      "--set", "numberOfMessages=5", "--json"});
  ASSERT_EQ(edited.status, 0) << edited.err;
  std::string shown;
  for (const auto& line : edited.lines) shown += line + "\n";
  EXPECT_EQ(Json::parse(shown)["numbers"][0]["value"], 5);

  const Json saved = Json::parse(readFile(path("c.json")));
  EXPECT_EQ(saved["patches"][2]["settings"]["numberOfMessages"], 5);
  EXPECT_EQ(saved["connections"].size(), 3u) << "the lower inputs keep their connections";

  const Result shownAgain = runInProcess({"--midi", "embedded", "panel", path("c.json"), "group"});
  ASSERT_EQ(shownAgain.status, 0) << shownAgain.err;
  ASSERT_GE(shownAgain.lines.size(), 2u);
  EXPECT_EQ(shownAgain.lines[0], "Panel SettingsForMIDIGroup of group");
  EXPECT_EQ(shownAgain.lines[1], "  Number of Messages [numberOfMessages]: 5 (0 to 1024)");
}

TEST_F(CompositionCommandsTest, PatchesListsTheComposerAndCollectorClassesWithTheirPorts) {
  const Result result = runInProcess({"patches", "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  std::string text;
  for (const auto& line : result.lines) text += line + "\n";
  const Json classes = Json::parse(text);
  std::map<std::string, Json> byName;
  for (const auto& entry : classes) byName[entry["class"]] = entry;
  ASSERT_TRUE(byName.count("MIDI_MessagePlugIn"));
  ASSERT_TRUE(byName.count("MIDI_14bit_MessagePlugIn"));
  ASSERT_TRUE(byName.count("MIDI_GroupPlugIn"));
  EXPECT_EQ(byName["MIDI_MessagePlugIn"]["name"], "wex MIDI Message");
  EXPECT_EQ(byName["MIDI_MessagePlugIn"]["executionMode"], "processor");
  EXPECT_EQ(byName["MIDI_MessagePlugIn"]["ports"][0]["key"], "inputMessageType");
  EXPECT_EQ(byName["MIDI_MessagePlugIn"]["ports"][0]["attributes"]["menuItems"][14], "ActiveSense");
  EXPECT_EQ(byName["MIDI_GroupPlugIn"]["plugInKeys"], Json::parse("[\"numberOfMessages\"]"));
  EXPECT_EQ(byName["MIDI_14bit_MessagePlugIn"]["description"],
            "Constructs the two control change messages requred for 14 bit controll change "
            "messages.");
}

// The saved file with its patches and connections in a fixed order (undoing
// a remove puts the patch back at the end), without the values of the inputs
// the example wires: an input just unwired holds what the wire last carried,
// which depends on whether a tick came between the commands.
Json sortedComposition(const std::string& text) {
  Json document = Json::parse(text);
  auto byText = [](const Json& a, const Json& b) { return a.dump() < b.dump(); };
  for (auto& patch : document["patches"]) {
    for (const char* input : {"message0", "message1", "message2"}) {
      if (patch["id"] == "group" && patch.contains("inputs")) patch["inputs"].erase(input);
    }
  }
  std::sort(document["patches"].begin(), document["patches"].end(), byText);
  std::sort(document["connections"].begin(), document["connections"].end(), byText);
  return document;
}

// Each kind of edit, one after another; undone one by one they leave the
// file as it was, and redone as the edits did.
TEST_F(CompositionCommandsTest, UndoTakesBackEachKindOfEditAndRedoDoesItAgain) {
  const std::vector<std::string> edits = {
      R"({"move": "note", "position": [300, 40]})",
      R"({"set": "note.inputData1", "value": 64})",
      R"({"panel": "group", "number": "numberOfMessages", "value": 5})",
      R"({"connect": "volume.outputMSB", "to": "note.inputData2"})",
      R"({"disconnect": "group.message1"})",
      R"({"add": "MIDI_MessagePlugIn", "position": [5, 6]})",
      R"({"remove": "group"})",
  };
  std::string editLines, undoLines, redoLines;
  for (const auto& edit : edits) {
    editLines += edit + "\n";
    undoLines += "{\"undo\": true}\n";
    redoLines += "{\"redo\": true}\n";
  }
  // Long enough for every line to be done on a loaded machine; the last
  // answer says when it was not.
  auto savedAfter = [&](const std::string& lines, const std::string& lastAnswer) {
    const std::string file = path("served.json");
    std::filesystem::copy_file(kExample, file, std::filesystem::copy_options::overwrite_existing);
    const Result result = runInProcess({"--midi", "embedded", "serve", file, "--listen",
                                        "127.0.0.1:0", "--for", "1.5", "--save", path("end.json")},
                                       lines);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err.find("wexmidi serve: standard input"), std::string::npos) << result.err;
    EXPECT_EQ(result.lines.back().rfind(lastAnswer, 0), 0u) << result.lines.back();
    return sortedComposition(readFile(path("end.json")));
  };
  const Json untouched = savedAfter("", "http://");
  const Json edited = savedAfter(editLines, R"({"removed":"group"})");
  EXPECT_NE(edited, untouched);
  EXPECT_EQ(savedAfter(editLines + undoLines, R"({"undone":{"move":"note")"), untouched);
  EXPECT_EQ(savedAfter(editLines + undoLines + redoLines, R"({"redone":{"remove":"group"})"),
            edited);

  const Result nothing = runInProcess(
      {"--midi", "embedded", "serve", kExample, "--listen", "127.0.0.1:0", "--for", "0.2"},
      "{\"undo\": true}\n");
  EXPECT_NE(nothing.err.find("standard input line 1: there is nothing to undo"), std::string::npos)
      << nothing.err;
}

}  // namespace
}  // namespace wex
