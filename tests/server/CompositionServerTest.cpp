#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "host/CompositionFile.h"
#include "midi/EmbeddedServicesFixture.h"
#include "patches/WexPatches.h"
#include "server/CompositionCommands.h"
#include "server/CompositionServer.h"
#include "server/DestinationSender.h"
#include "shared/TestPaths.h"

namespace wex {
namespace {

using Json = ValueJSON::Json;
using ::testing::HasSubstr;

constexpr uint64_t kControlChange7 = 0xB00740;  // channel 1, controller 7, value 64

// The distributors example served on a free port, running.
class ServerFixture : public EmbeddedServicesFixture {
 protected:
  explicit ServerFixture(std::string token = "", std::string host = "127.0.0.1") {
    registerWexPatches(registry);
    composition = CompositionFile::load(
        std::string(::wex::test::kSourceDir) + "/examples/distributors.wexcomp.json", registry);
    file = (std::filesystem::temp_directory_path() /
            ("wexmidi-server-test-" + std::to_string(::getpid()) + ".json"))
               .string();
    sender = std::make_unique<DestinationSender>();
    CompositionCommands::Options scope;
    scope.file = file;
    scope.savesAnywhere = false;
    scope.sender = sender.get();
    commands = std::make_unique<CompositionCommands>(*composition, scope);
    CompositionServer::Options options;
    options.host = host;
    options.port = 0;
    options.token = std::move(token);
    server = std::make_unique<CompositionServer>(*composition, *commands, options);
    std::string reason;
    EXPECT_TRUE(server->start(&reason)) << reason;
    client = std::make_unique<httplib::Client>("127.0.0.1", server->port());
    composition->start(200);
  }
  ~ServerFixture() override {
    server->stop();
    composition->stop();
    composition->closeAllPanels();
    server.reset();
    commands.reset();
    sender.reset();
    composition.reset();
    std::filesystem::remove(file);
  }

  // Posts a command; the status and the answer.
  std::pair<int, Json> post(const Json& command) {
    auto result = client->Post("/api/commands", command.dump(), "application/json");
    if (!result) return {0, Json()};
    return {result->status, Json::parse(result->body, nullptr, false)};
  }
  Json get(const std::string& path) {
    auto result = client->Get(path);
    EXPECT_TRUE(result && result->status == 200) << path;
    return result ? Json::parse(result->body, nullptr, false) : Json();
  }
  // Reads the event stream until `until` holds for what came, or a few seconds pass.
  std::string readEvents(const std::function<bool(const std::string&)>& until,
                         const std::function<void()>& afterConnect = nullptr) {
    std::string received;
    httplib::Client stream("127.0.0.1", server->port());
    stream.set_read_timeout(std::chrono::seconds(5));
    std::thread trigger;
    bool triggered = false;
    stream.Get("/api/events", [&](const char* data, size_t length) {
      received.append(data, length);
      if (!triggered && afterConnect) {
        triggered = true;
        trigger = std::thread(afterConnect);
      }
      return !until(received);
    });
    if (trigger.joinable()) trigger.join();
    return received;
  }
  std::vector<std::string> dynamicOutputs(const std::string& id) const {
    std::vector<std::string> keys;
    for (const auto& port : composition->patch(id)->portTable().ports(QCPortDirection::Output)) {
      if (!port.isProperty) keys.push_back(port.key);
    }
    return keys;
  }

  PlugInRegistry registry;
  std::unique_ptr<Composition> composition;
  std::string file;
  std::unique_ptr<DestinationSender> sender;
  std::unique_ptr<CompositionCommands> commands;
  std::unique_ptr<CompositionServer> server;
  std::unique_ptr<httplib::Client> client;
};

TEST_F(ServerFixture, TheCompositionListsPatchesPortsValuesAndConnections) {
  const Json body = get("/api/composition");
  ASSERT_EQ(body["patches"].size(), 3u);
  EXPECT_EQ(body["patches"][1]["id"], "cc");
  EXPECT_EQ(body["patches"][1]["class"], "MIDI_CCDistributorPlugIn");
  EXPECT_EQ(body["patches"][1]["name"], "wex MIDI CC Message Distributor");
  EXPECT_EQ(body["patches"][1]["inputs"][0]["name"], "Messages");
  EXPECT_EQ(body["patches"][1]["inputs"][0]["connected"], true);
  EXPECT_EQ(body["connections"].size(), 2u);
  EXPECT_EQ(body["connections"][0],
            (Json{{"from", "rx.outputMessages"}, {"to", "cc.inputMessages"}}));
  EXPECT_EQ(body["unsaved"], false);
  EXPECT_EQ(get("/api/classes").size(), registry.classes().size());
  EXPECT_EQ(post({{"panel", "cc"}}).second["panel"]["panel"], "CCDistributorSettings");
  EXPECT_EQ(get("/api/patches/cc/panel")["panel"], "CCDistributorSettings");
}

TEST_F(ServerFixture, EveryCommandChangesTheCompositionAsItSays) {
  EXPECT_EQ(post({{"add", "MIDI_GroupPlugIn"}, {"id", "group"}, {"position", {10, 20}}}).first,
            200);
  ASSERT_TRUE(composition->patch("group"));
  EXPECT_EQ(composition->positions().get("group"), (PatchPositions::Point{10, 20}));
  EXPECT_TRUE(commands->unsaved());

  EXPECT_EQ(post({{"move", "group"}, {"position", {30.5, 40}}}).first, 200);
  EXPECT_EQ(composition->positions().get("group"), (PatchPositions::Point{30.5, 40}));

  EXPECT_EQ(post({{"connect", "cc.controller7"}, {"to", "group.message0"}}).first, 200);
  EXPECT_TRUE(composition->isConnected(PortAddress{"group", "message0"}));
  EXPECT_EQ(post({{"disconnect", "group.message0"}}).first, 200);
  EXPECT_FALSE(composition->isConnected(PortAddress{"group", "message0"}));

  EXPECT_EQ(post({{"set", "cc.inputChannel"}, {"value", 3}}).first, 200);
  EXPECT_EQ(composition->inputValue(PortAddress{"cc", "inputChannel"}).toDouble(), 3);

  auto [status, panel] = post({{"panel", "group"}, {"number", "numberOfMessages"}, {"value", 4}});
  EXPECT_EQ(status, 200);
  EXPECT_EQ(panel["panel"]["numbers"][0]["value"], 4);

  const auto before = dynamicOutputs("cc").size();
  EXPECT_EQ(post({{"panel", "cc"}, {"tick", 20}}).first, 200);
  EXPECT_EQ(dynamicOutputs("cc").size(), before + 1);
  EXPECT_EQ(post({{"panel", "cc"}, {"untick", 20}}).first, 200);
  EXPECT_EQ(dynamicOutputs("cc").size(), before);

  // Learning: the switch on, a new controller arrives (on the channel set
  // above), the switch off.
  EXPECT_EQ(post({{"panel", "cc"}, {"switch", "learn"}, {"state", "on"}}).first, 200);
  auto [sent, answer] = post({{"send", {0xB31540}}, {"to", {"wexmidi Loopback"}}});
  EXPECT_EQ(sent, 200) << answer.dump();
  EXPECT_EQ(answer["to"], Json({"wexmidi Loopback"}));
  ASSERT_TRUE(services->waitUntilDelivered(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(post({{"panel", "cc"}, {"switch", "learn"}, {"state", "off"}}).first, 200);
  for (int i = 0; i < 200 && dynamicOutputs("cc").size() == before; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(dynamicOutputs("cc").size(), before + 1);

  EXPECT_EQ(post({{"save", true}}).first, 200);
  EXPECT_FALSE(commands->unsaved());
  PlugInRegistry other;
  registerWexPatches(other);
  auto saved = CompositionFile::load(file, other);
  EXPECT_EQ(saved->patchIds(), composition->patchIds());
  EXPECT_EQ(saved->positions().get("group"), (PatchPositions::Point{30.5, 40}));
  EXPECT_EQ(saved->connections(), composition->connections());

  EXPECT_EQ(post({{"remove", "group"}}).first, 200);
  EXPECT_FALSE(composition->patch("group"));
  EXPECT_FALSE(composition->positions().get("group"));
  EXPECT_EQ(post({{"add", "MIDI_GroupPlugIn"}}).second["added"], "Group1");
}

TEST_F(ServerFixture, ABadCommandGets400WithTheReasonAndChangesNothing) {
  const std::string before = CompositionFile::serialize(*composition);
  const std::vector<std::pair<Json, std::string>> cases = {
      {Json::array(), "one JSON object"},
      {{{"jump", 1}}, "unknown command"},
      {{{"set", "cc.inputChannel"}}, "needs a \"value\""},
      {{{"set", "cc.nothing"}, {"value", 1}}, "has no input port \"nothing\""},
      {{{"set", "cc.inputChannel"}, {"value", "x"}}, "input of type index"},
      {{{"set", "ccinputChannel"}, {"value", 1}}, "expected ID.PORT"},
      {{{"panel", "nobody"}}, "there is no patch \"nobody\""},
      {{{"panel", "cc"}, {"tick", 500}}, "beyond the"},
      {{{"panel", "cc"}, {"tick", -1}}, "must be a row number"},
      {{{"panel", "cc"}, {"switch", "fly"}, {"state", "on"}}, "has no switch \"fly\""},
      {{{"panel", "cc"}, {"switch", "learn"}, {"state", "maybe"}}, "\"on\" or \"off\""},
      {{{"panel", "cc"}, {"number", "n"}, {"value", 1}}, "has no number \"n\""},
      {{{"save", 7}}, "must be a file name"},
      {{{"add", "NoSuchPlugIn"}}, "unknown patch class"},
      {{{"add", "MIDI_GroupPlugIn"}, {"id", "cc"}}, "duplicate patch id"},
      {{{"add", "MIDI_GroupPlugIn"}, {"id", "g"}, {"position", {1}}}, "two numbers"},
      {{{"remove", "nobody"}}, "there is no patch"},
      {{{"connect", "cc.inputChannel"}, {"to", "notes.inputChannel"}}, "has no output port"},
      {{{"connect", "rx.outputMessages"}, {"to", "cc.inputMessages"}}, "connected already"},
      {{{"disconnect", "cc.inputChannel"}}, "has no connection"},
      {{{"move", "nobody"}, {"position", {1, 2}}}, "there is no patch"},
      {{{"move", "cc"}, {"position", "here"}}, "two numbers"},
      {{{"send", Json::array()}}, "non-empty list"},
      {{{"send", {"nonsense"}}}, "yields no message"},
      {{{"send", {kControlChange7}}, {"to", {"no such place"}}}, "no such place"},
  };
  for (const auto& [command, reason] : cases) {
    auto [status, answer] = post(command);
    EXPECT_EQ(status, 400) << command.dump();
    EXPECT_THAT(answer.value("error", ""), HasSubstr(reason)) << command.dump();
  }
  // Bodies are read as standard input's lines are.
  const std::vector<std::pair<std::string, std::string>> unreadable = {
      {"{set", "not valid JSON"},
      {R"({"set": "cc.inputChannel", "value": 1, "value": 2})", "duplicate key \"value\""},
  };
  for (const auto& [body, reason] : unreadable) {
    auto refused = client->Post("/api/commands", body, "application/json");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 400) << body;
    EXPECT_THAT(Json::parse(refused->body).value("error", ""), HasSubstr(reason)) << refused->body;
  }
  EXPECT_EQ(CompositionFile::serialize(*composition), before);
  EXPECT_FALSE(commands->unsaved());
}

// A composition the file could not hold would be refused when opened again.
TEST_F(ServerFixture, AddingBeyondWhatAFileMayHoldIsRefused) {
  const size_t existing = composition->patchIds().size();
  composition->beginChanges();
  for (size_t i = existing; i < CompositionFile::kMaxPatches; ++i)
    composition->addPatch("m" + std::to_string(i), "MIDI_MessagePlugIn");
  composition->commitChanges();
  auto [status, answer] = post({{"add", "MIDI_MessagePlugIn"}});
  EXPECT_EQ(status, 400);
  EXPECT_THAT(answer.value("error", ""), HasSubstr("patches a composition may hold"));
  EXPECT_EQ(composition->patchIds().size(), CompositionFile::kMaxPatches);
}

TEST_F(ServerFixture, RequestsFromAnotherSiteOrHostOrTooLargeAreRefused) {
  auto foreignOrigin = client->Get("/api/composition", {{"Origin", "http://example.com"}});
  ASSERT_TRUE(foreignOrigin);
  EXPECT_EQ(foreignOrigin->status, 403);
  auto crossSitePost = client->Post("/api/commands", {{"Origin", "http://example.com"}},
                                    R"({"remove": "cc"})", "application/json");
  ASSERT_TRUE(crossSitePost);
  EXPECT_EQ(crossSitePost->status, 403);
  EXPECT_TRUE(composition->patch("cc"));

  // A name rebound to the loopback by a foreign site.
  httplib::Client rebound("127.0.0.1", server->port());
  auto foreignHost = rebound.Get("/api/composition", {{"Host", "attacker.example:80"}});
  ASSERT_TRUE(foreignHost);
  EXPECT_EQ(foreignHost->status, 403);

  const std::string ownOrigin = "http://127.0.0.1:" + std::to_string(server->port());
  auto sameOrigin = client->Get("/api/composition", {{"Origin", ownOrigin}});
  ASSERT_TRUE(sameOrigin);
  EXPECT_EQ(sameOrigin->status, 200);

  auto large = client->Post("/api/commands", std::string(CompositionServer::kMaxBodyBytes + 1, ' '),
                            "application/json");
  ASSERT_TRUE(large);
  EXPECT_EQ(large->status, 413);

  auto form = client->Post("/api/commands", R"({"remove": "cc"})", "text/plain");
  ASSERT_TRUE(form);
  EXPECT_EQ(form->status, 415);
  EXPECT_TRUE(composition->patch("cc"));
}

class TokenServerFixture : public ServerFixture {
 protected:
  TokenServerFixture() : ServerFixture("s3cret") {}
};

TEST_F(TokenServerFixture, WithoutItsTokenEveryRequestGets401) {
  for (const char* path :
       {"/api/composition", "/api/classes", "/api/destinations", "/", "/api/events"}) {
    auto result = client->Get(path);
    ASSERT_TRUE(result) << path;
    EXPECT_EQ(result->status, 401) << path;
  }
  auto wrong = client->Get("/api/composition?token=guess");
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->status, 401);

  const std::string cookie = "wexmidi-token-" + std::to_string(server->port()) + "=s3cret";
  auto byParameter = client->Get("/api/composition?token=s3cret");
  ASSERT_TRUE(byParameter);
  EXPECT_EQ(byParameter->status, 200);
  EXPECT_THAT(byParameter->get_header_value("Set-Cookie"), HasSubstr(cookie));
  auto byCookie = client->Get("/api/composition", {{"Cookie", "a=b; " + cookie}});
  ASSERT_TRUE(byCookie);
  EXPECT_EQ(byCookie->status, 200);
  auto byHeader = client->Get("/api/composition", {{"Authorization", "Bearer s3cret"}});
  ASSERT_TRUE(byHeader);
  EXPECT_EQ(byHeader->status, 200);
  EXPECT_EQ(server->url(), "http://127.0.0.1:" + std::to_string(server->port()) + "/?token=s3cret");
}

TEST(CompositionServerTest, OffTheLoopbackItWillNotStartWithoutAToken) {
  PlugInRegistry registry;
  Composition composition(registry);
  CompositionCommands commands(composition, {});
  CompositionServer::Options options;
  options.host = "0.0.0.0";
  options.port = 0;
  CompositionServer server(composition, commands, options);
  std::string reason;
  EXPECT_FALSE(server.start(&reason));
  EXPECT_THAT(reason, HasSubstr("needs a token"));

  // With one, the address it prints is one to go to, not the wildcard.
  options.token = "0123456789abcdef";
  CompositionServer withToken(composition, commands, options);
  ASSERT_TRUE(withToken.start(&reason)) << reason;
  EXPECT_THAT(withToken.url(), ::testing::StartsWith("http://127.0.0.1:"));
  withToken.stop();
}

TEST(RequestGuardTest, TakesTheHostsABrowserSendsForItsOwnAddressOnly) {
  struct Case {
    const char* listen;
    int port;
    const char* hostHeader;
    int status;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1", 80, "127.0.0.1", 0},  // browsers leave the default port out
      {"127.0.0.1", 80, "localhost", 0},          {"127.0.0.1", 80, "127.0.0.1:80", 0},
      {"127.0.0.1", 8760, "127.0.0.1", 403},      {"127.0.0.1", 8760, "127.0.0.1:8761", 403},
      {"127.0.0.1", 80, "attacker.example", 403}, {"::1", 8760, "[::1]:8760", 0},
  };
  for (const auto& row : cases) {
    std::string reason;
    EXPECT_EQ(RequestGuard(row.listen, row.port, "").check(row.hostHeader, "", "", "", "", &reason),
              row.status)
        << row.listen << ":" << row.port << " with Host " << row.hostHeader;
  }
}

// Longer than one packet list takes: sent in pieces, as `wexmidi send` does.
TEST_F(ServerFixture, ALongSysexSentOverTheAPIArrivesWhole) {
  const MIDIEndpointRef synth = services->createDeviceDestination("Synth");
  std::string sysex = "1";
  std::vector<Byte> expected{0xF0, 1};
  for (int i = 1; i < 1500; ++i) {
    sysex += "," + std::to_string(i % 128);
    expected.push_back(static_cast<Byte>(i % 128));
  }
  expected.push_back(0xF7);
  auto [status, answer] = post({{"send", {sysex}}, {"to", {"Synth"}}});
  ASSERT_EQ(status, 200) << answer.dump();
  ASSERT_TRUE(services->waitUntilDelivered(10));
  EXPECT_EQ(services->recording(synth)->bytes(), expected);
}

TEST_F(ServerFixture, MidiThatArrivesShowsInTheStreamAsValues) {
  const std::string received = readEvents(
      [](const std::string& text) { return text.find("\"cc.controller7\"") != std::string::npos; },
      [this] {
        post({{"send", {kControlChange7}}, {"to", {"wexmidi Loopback"}}});
      });
  EXPECT_THAT(received, HasSubstr("event: state"));
  EXPECT_THAT(received, HasSubstr("\"cc.controller7\":64"));
}

TEST_F(ServerFixture, LogLinesReachTheStreamAndAClientThatComesLaterSeesTheLatest) {
  const std::string line = "\t\terror -50 at MIDIClientCreate() A";
  const std::string received = readEvents(
      [](const std::string& text) {
        return text.find("MIDIClientCreate() A") != std::string::npos;
      },
      [&line] { SystemLog::write(line); });
  EXPECT_THAT(received, HasSubstr("event: log\ndata: {"));
  const std::string quoted = Json{{"line", line}}.dump();
  EXPECT_THAT(received, HasSubstr(quoted.substr(1, quoted.size() - 2)));
  EXPECT_EQ(log.lines(), std::vector<std::string>{line}) << "the log itself still has it";

  server->log("source appeared: Keys");
  const std::string later = readEvents(
      [](const std::string& text) { return text.find("event: state") != std::string::npos; });
  const size_t first = later.find("MIDIClientCreate() A");
  ASSERT_NE(first, std::string::npos) << later;
  EXPECT_LT(first, later.find("source appeared: Keys"));
  EXPECT_LT(later.find("source appeared: Keys"), later.find("event: state"));
  EXPECT_THAT(later, HasSubstr("\"number\":2"));
}

TEST_F(ServerFixture, AClientThatLeavesMidStreamIsForgottenAndOthersGoOn) {
  int chunks = 0;
  readEvents([&](const std::string&) { return ++chunks >= 1; });
  for (int i = 0; i < 200 && server->events().clientCount() > 0; ++i) {
    post({{"set", "cc.inputChannel"}, {"value", i % 16}});
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(server->events().clientCount(), 0u);
  const std::string received = readEvents(
      [](const std::string& text) {
        return text.find("\"cc.inputChannel\":5") != std::string::npos;
      },
      [this] {
        post({{"set", "cc.inputChannel"}, {"value", 5}});
      });
  EXPECT_THAT(received, HasSubstr("\"cc.inputChannel\":5"));
}

}  // namespace
}  // namespace wex
