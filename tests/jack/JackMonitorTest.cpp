// `wexmidi monitor` on a real JACK server, as a user runs it: the lines name
// the JACK client that played each message, and --time gives the times JACK
// says the events arrived, for a client that appears and goes while the
// monitor runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "jack/JackServicesFixture.h"
#include "shared/ProgramRun.h"

namespace wex::test {
namespace {

using namespace std::chrono_literals;

// jack_midiseq plays every 4800 samples (100 ms at 48 kHz): note on 62
// (90 3E 40) at once and its note off (80 3E 40) 1000 samples later.
std::vector<std::string> sequencerCommand(const std::string& name) {
  return {"jack_midiseq", name, "4800", "0", "62", "1000"};
}
constexpr const char* kNoteOnValue = "9453120";   // note on channel 1 D4 velocity 64
constexpr const char* kNoteOffValue = "8404544";  // note off channel 1 D4 velocity 64

struct Line {
  double time;
  std::string source;
  std::string value;
};

// "TIME\tSOURCE\tVALUE\tHEX\tTEXT" lines of `monitor --time --hex`.
std::vector<Line> parseLines(const std::string& out) {
  std::vector<Line> lines;
  std::istringstream in(out);
  const std::regex shape("([0-9]+\\.[0-9]{6})\t([^\t]+)\t([0-9,]+)\t[0-9A-F ]+\t.+");
  for (std::string text; std::getline(in, text);) {
    std::smatch match;
    EXPECT_TRUE(std::regex_match(text, match, shape)) << text;
    if (!match.empty()) lines.push_back({std::stod(match[1]), match[2], match[3]});
  }
  return lines;
}

// The time from each note on to the next, and from each note on to its note off.
void expectTheSequencesTiming(const std::vector<Line>& lines) {
  std::vector<double> periods, noteLengths;
  const Line* lastOn = nullptr;
  for (const Line& line : lines) {
    if (line.value == kNoteOnValue) {
      if (lastOn) periods.push_back(line.time - lastOn->time);
      lastOn = &line;
    } else if (line.value == kNoteOffValue && lastOn) {
      noteLengths.push_back(line.time - lastOn->time);
    }
  }
  ASSERT_GE(periods.size(), 3u);
  ASSERT_GE(noteLengths.size(), 3u);
  std::sort(periods.begin(), periods.end());
  std::sort(noteLengths.begin(), noteLengths.end());
  // JACK's times (medians). After the server has stalled, JACK's estimate of
  // its cycles' times runs off the wall clock for seconds (seen: at half
  // speed, recovering), so the period is held to a wide range; but notes and
  // periods are measured on the same clock, and each note lasts 1000 of the
  // 4800 frames of its period.
  const double period = periods[periods.size() / 2];
  const double noteLength = noteLengths[noteLengths.size() / 2];
  EXPECT_GT(period, 0.02);
  EXPECT_LT(period, 0.5);
  EXPECT_NEAR(noteLength / period, 1000.0 / 4800, 0.2 * 1000 / 4800)
      << "note " << noteLength << " s, period " << period << " s";
}

class JackMonitor : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!JackMIDIServices::serverRunning()) {
      GTEST_SKIP() << "no JACK server is reachable (start one and set JACK_DEFAULT_SERVER)";
    }
  }
};

// The name after `notice` on the first line of `text` that has both it and `part`.
std::string noticed(const std::string& text, const std::string& notice, const std::string& part) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const size_t at = line.find(notice);
    if (at != std::string::npos && line.find(part, at) != std::string::npos) {
      return line.substr(at + notice.size());
    }
  }
  return "";
}

TEST_F(JackMonitor, NamesAClientThatAppearsAndGoesAndTimesItsMessagesAsJackDid) {
  const std::string name = uniqueName("monseq");
  std::string appeared;
  const ProgramRun run =
      monitorWhile("jack", {"--time", "--hex", "--for", "8"}, [&](SharedTextBuffer& err) {
        JackClientProcess sequencer(name, sequencerCommand(name), jackEnvironment());
        ASSERT_TRUE(waitUntil(
            [&] { return !(appeared = noticed(err.text(), "source appeared: ", name)).empty(); },
            kJackWait))
            << err.text();
        std::this_thread::sleep_for(1s);
        sequencer.stop();
        EXPECT_TRUE(err.waitFor("source went away: " + appeared)) << err.text();
      });
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<Line> lines = parseLines(run.out);
  ASSERT_FALSE(lines.empty()) << run.err;
  double previous = 0;
  for (const Line& line : lines) {
    EXPECT_EQ(line.source, appeared);
    EXPECT_GE(line.time, previous) << "times go back";
    EXPECT_LT(line.time, 8.5);
    previous = line.time;
  }
  expectTheSequencesTiming(lines);
}

TEST_F(JackMonitor, JsonLinesNameTheChosenSourceAndCarryJacksTimes) {
  const std::string name = uniqueName("monseq");
  JackClientProcess sequencer(name, sequencerCommand(name), jackEnvironment());
  {
    // Listed once the services see it.
    std::string error;
    auto services = JackMIDIServices::open(uniqueName("wextest"), &error);
    ASSERT_TRUE(services) << error;
    ASSERT_NE(waitForEndpoint(*services, true, name + ":out"), 0u) << sequencer.output();
  }
  const ProgramRun run =
      monitorWhile("jack", {"--json", "--source", name, "--for", "1.5"}, [](SharedTextBuffer&) {});
  ASSERT_EQ(run.status, 0) << run.err;
  std::istringstream in(run.out);
  double previous = 0;
  size_t count = 0;
  for (std::string text; std::getline(in, text); ++count) {
    const auto line = nlohmann::json::parse(text);
    EXPECT_NE(line["source"].get<std::string>().find(name), std::string::npos) << text;
    EXPECT_TRUE(line["value"] == 9453120 || line["value"] == 8404544) << text;
    EXPECT_GE(line["time"].get<double>(), previous) << text;
    previous = line["time"].get<double>();
  }
  EXPECT_GE(count, 10u) << run.err;
  EXPECT_LT(previous, 2.0);
}

}  // namespace
}  // namespace wex::test
