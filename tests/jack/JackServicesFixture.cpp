#include "jack/JackServicesFixture.h"

#include <jack/jack.h>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "services/jack/JackClientLedger.h"

namespace wex::test {

namespace {

bool isHexByte(const std::string& token) {
  return token.size() == 2 && std::isxdigit(static_cast<unsigned char>(token[0])) &&
         std::isxdigit(static_cast<unsigned char>(token[1]));
}

}  // namespace

bool ownJackServersAllowed() {
  const char* allowed = std::getenv("WEX_JACK_OWN_SERVERS");
  return allowed && std::string(allowed) == "1";
}

bool onPipeWire() {
  return std::string(jack_get_version_string()).find("PipeWire") != std::string::npos;
}

// The server is told to end with the test process: one left behind by a test
// that crashed would take the place of every server started after it.
std::unique_ptr<ChildProcess> startJackServer(const std::string& name, bool realtime) {
  std::vector<std::string> command{"setpriv", "--pdeathsig", "TERM"};
  if (onPipeWire()) {
    const char* config = std::getenv("WEX_PIPEWIRE_CONFIG");
    command.insert(command.end(), {"pipewire", "-c", config ? config : "pipewire.conf"});
  } else {
    command.insert(command.end(), {"jackd", "-n", name, realtime ? "--realtime" : "--no-realtime",
                                   "-S", "-d", "dummy", "-r", "48000", "-p", "128"});
  }
  auto server = std::make_unique<ChildProcess>(command);
  server->setStopGrace(std::chrono::milliseconds(15000));
  return server;
}

bool jackServerUp() {
  return waitUntil([] { return JackMIDIServices::serverRunning(); },
                   std::chrono::milliseconds(10000));
}

bool waitUntilJackClientGone(const std::string& clientName) {
  jack_client_t* probe = JackClientLedger::open("wextest-probe");
  if (!probe) return false;
  const std::string pattern = "^" + clientName + ":";
  const bool gone = waitUntil(
      [&] {
        const char** ports = jack_get_ports(probe, pattern.c_str(), nullptr, 0);
        const bool none = !ports || !ports[0];
        jack_free(ports);
        return none;
      },
      kJackWait);
  JackClientLedger::close(probe);
  return gone;
}

std::vector<std::string> jackPortsOf(const std::string& clientName) {
  std::vector<std::string> names;
  jack_client_t* probe = JackClientLedger::open("wextest-probe");
  if (!probe) return names;
  // A regular expression: the client's name is taken literally.
  std::string pattern = "^";
  for (char c : clientName) {
    if (!std::isalnum(static_cast<unsigned char>(c))) pattern += '\\';
    pattern += c;
  }
  pattern += ':';
  const char** ports = jack_get_ports(probe, pattern.c_str(), nullptr, 0);
  for (size_t i = 0; ports && ports[i]; ++i) {
    names.push_back(std::string(ports[i]).substr(clientName.size() + 1));
  }
  jack_free(ports);
  JackClientLedger::close(probe);
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> waitForJackPorts(const std::string& clientName,
                                          const std::vector<std::string>& wanted) {
  std::vector<std::string> names;
  waitUntil(
      [&] {
        names = jackPortsOf(clientName);
        return std::all_of(wanted.begin(), wanted.end(), [&](const std::string& name) {
          return std::find(names.begin(), names.end(), name) != names.end();
        });
      },
      kJackWait);
  return names;
}

std::vector<Bytes> dumpedEvents(const std::string& output) {
  std::vector<Bytes> events;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || colon == 0) continue;
    const std::string offset = line.substr(0, colon);
    if (offset.find_first_not_of(" 0123456789") != std::string::npos) continue;
    std::istringstream tokens(line.substr(colon + 1));
    std::string token;
    Bytes event;
    while (tokens >> token && isHexByte(token)) {
      event.push_back(static_cast<Byte>(std::stoi(token, nullptr, 16)));
    }
    if (!event.empty()) events.push_back(event);
  }
  return events;
}

bool wasDumped(const std::string& output, const Bytes& event) {
  const auto events = dumpedEvents(output);
  return std::find(events.begin(), events.end(), event) != events.end();
}

}  // namespace wex::test
