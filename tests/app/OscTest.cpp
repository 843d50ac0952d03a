#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <lo/lo.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/Structure.h"
#include "osc/OscPacketReader.h"
#include "osc/OscValueWriter.h"
#include "shared/TestPaths.h"

namespace wex {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using Clock = std::chrono::steady_clock;

// `wexmidi ARGS` as a user starts it, its standard output and error read as
// they grow.
class ProgramProcess {
 public:
  explicit ProgramProcess(const std::vector<std::string>& args) {
    int out[2], err[2];
    EXPECT_EQ(pipe(out), 0);
    EXPECT_EQ(pipe(err), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      std::vector<char*> argv{const_cast<char*>(test::kProgramPath)};
      for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      execv(test::kProgramPath, argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
  }
  ~ProgramProcess() {
    if (pid_ > 0) end();
    close(fds_[0]);
    close(fds_[1]);
  }
  // Reads until standard output (0) or error (1) holds `part`; false after 20 s.
  bool waitFor(int stream, const std::string& part) {
    const auto end = Clock::now() + std::chrono::seconds(20);
    while (texts_[stream].find(part) == std::string::npos) {
      if (Clock::now() > end || !readSome(100)) return false;
    }
    return true;
  }
  // Ends the program as Ctrl-C does and reads what it still writes.
  int end() {
    kill(pid_, SIGINT);
    while (readSome(20000)) {
    }
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& text(int stream) const { return texts_[stream]; }

 private:
  // False once both streams have ended.
  bool readSome(int milliseconds) {
    pollfd ready[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    if (open_[0] + open_[1] == 0) return false;
    poll(ready, 2, milliseconds);
    for (int i = 0; i < 2; ++i) {
      if (!open_[i] || !(ready[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[4096];
      const ssize_t got = read(fds_[i], buffer, sizeof buffer);
      if (got <= 0) open_[i] = false;
      if (got > 0) texts_[i].append(buffer, static_cast<size_t>(got));
    }
    return true;
  }

  pid_t pid_ = -1;
  int fds_[2] = {-1, -1};
  bool open_[2] = {true, true};
  std::string texts_[2];
};

// A liblo server on a free port of the loopback that keeps each message as
// "ADDRESS TYPES", and the bytes of its MIDI and blob arguments.
class OscCollector {
 public:
  struct Received {
    std::string address;
    std::string types;
    std::vector<std::vector<uint8_t>> midi;  // m and blob arguments, in order
  };
  OscCollector() {
    server_ = lo_server_new_with_proto(nullptr, LO_UDP, nullptr);
    lo_server_add_method(server_, nullptr, nullptr, &OscCollector::handle, this);
  }
  ~OscCollector() { lo_server_free(server_); }
  std::string port() const { return std::to_string(lo_server_get_port(server_)); }
  // Waits until a message to `address` with `types` has come; null after 20 s.
  const Received* waitFor(const std::string& address, const std::string& types) {
    const auto end = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < end) {
      for (const auto& message : received_) {
        if (message.address == address && message.types == types) return &message;
      }
      lo_server_recv_noblock(server_, 100);
    }
    return nullptr;
  }

 private:
  static int handle(const char* path, const char* types, lo_arg** argv, int argc, lo_message,
                    void* self) {
    Received message{path, types, {}};
    for (int i = 0; i < argc; ++i) {
      if (types[i] == LO_MIDI) {
        const auto* midi = reinterpret_cast<const uint8_t*>(argv[i]);
        message.midi.emplace_back(midi, midi + 4);
      }
      if (types[i] == LO_BLOB) {
        const auto* data = static_cast<const uint8_t*>(lo_blob_dataptr((lo_blob)argv[i]));
        message.midi.emplace_back(data, data + lo_blob_datasize((lo_blob)argv[i]));
      }
    }
    static_cast<OscCollector*>(self)->received_.push_back(message);
    return 0;
  }
  lo_server server_;
  std::vector<Received> received_;
};

TEST(OscTest, ValuesAndMidiGoOutAsTypedOscAndOscSetsInputsSendsMidiAndRefusesBadPackets) {
  const fs::path folder = fs::temp_directory_path() / ("wexmidi-osc-" + std::to_string(getpid()));
  fs::create_directories(folder);
  const fs::path file = folder / "osc.wexcomp.json";
  std::ofstream(file) << R"({"format": "wexmidi composition", "version": 1, "patches": [
    {"id": "rx", "class": "MIDI_ReceiverPlugIn"},
    {"id": "note", "class": "MIDI_MessagePlugIn", "inputs": {"inputMessageType": 1,
     "inputChannel": 0, "inputData1": 60, "inputData2": 100}}], "connections": []})";
  OscCollector collector;
  ProgramProcess program({"--midi", "embedded", "run", file.string(), "--for", "60", "--osc-out",
                          "127.0.0.1:" + collector.port(), "--osc-in", "0", "--watch",
                          "note.outputMessage"});
  const std::string listening = "OSC in on osc.udp://127.0.0.1:";
  ASSERT_TRUE(program.waitFor(1, "\n")) << program.text(1);
  ASSERT_THAT(program.text(1), HasSubstr(listening));
  const std::string in = program.text(1).substr(program.text(1).find(listening) + listening.size());
  lo_address wexmidi = lo_address_new("127.0.0.1", in.substr(0, in.find('\n')).c_str());

  // The composer's first value: a note on as OSC's MIDI type, port 0.
  const auto* first = collector.waitFor("/wexmidi/note/outputMessage", "m");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->midi.at(0), (std::vector<uint8_t>{0x00, 0x90, 0x3C, 0x64}));

  // An input set over OSC, as --set sets it: --watch shows what it did.
  lo_send(wexmidi, "/wexmidi/note/inputData1", "i", 64);
  EXPECT_TRUE(program.waitFor(0, R"("port":"note.outputMessage","value":9453668)"))
      << program.text(0);

  // MIDI sent over OSC reaches the loopback bus, the receiver, and OSC again.
  uint8_t noteOff[4] = {0, 0x80, 0x3C, 0x40};
  lo_send(wexmidi, "/wexmidi/send", "m", noteOff);
  const auto* received = collector.waitFor("/wexmidi/rx/outputMessages", "m");
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(received->midi.at(0), (std::vector<uint8_t>{0x00, 0x80, 0x3C, 0x40}));
  const std::vector<uint8_t> sysex = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  lo_blob blob = lo_blob_new(static_cast<int32_t>(sysex.size()), sysex.data());
  lo_send(wexmidi, "/wexmidi/send", "b", blob);
  lo_blob_free(blob);
  const auto* system = collector.waitFor("/wexmidi/rx/outputMessages", "b");
  ASSERT_NE(system, nullptr);
  EXPECT_EQ(system->midi.at(0), sysex);

  // Refused, counted, said once per address and cause; the run goes on.
  const int raw = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in place{};
  place.sin_family = AF_INET;
  place.sin_port = htons(static_cast<uint16_t>(std::stoi(lo_address_get_port(wexmidi))));
  place.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(sendto(raw, "garbage", 7, 0, reinterpret_cast<sockaddr*>(&place), sizeof place), 7);
  close(raw);
  lo_send(wexmidi, "/wexmidi/note/inputData1", "s", "loud");
  lo_send(wexmidi, "/wexmidi/note/inputData1", "s", "loud");
  lo_send(wexmidi, "/elsewhere", "i", 1);
  lo_send(wexmidi, "/wexmidi/send", "i", 144);
  EXPECT_TRUE(program.waitFor(1, "refused /wexmidi/send")) << program.text(1);
  EXPECT_EQ(program.end(), 0);
  lo_address_free(wexmidi);
  fs::remove_all(folder);

  EXPECT_THAT(program.text(1), HasSubstr("\tOSC in: refused a packet: not an OSC message"));
  EXPECT_THAT(program.text(1), HasSubstr("\tOSC in: refused /wexmidi/note/inputData1: "
                                         "note.inputData1: input of type index"));
  EXPECT_THAT(program.text(1), HasSubstr("\tOSC in: refused /elsewhere: no such address"));
  EXPECT_THAT(program.text(1), HasSubstr("wexmidi run: --osc-in refused 5 messages"));
  // Said once per address and cause, though it came twice.
  const std::string text = program.text(1);
  EXPECT_EQ(text.find("refused /wexmidi/note/inputData1"),
            text.rfind("refused /wexmidi/note/inputData1"));
}

// A TCP receiver that never reads or accepts: once the first connection's
// buffers are full (about 1.6 MB on the loopback), every send waits out its
// one-second deadline, and so does every connection after it. The composition
// goes on at its own pace meanwhile; were it to wait for the sends, the last
// fifty of these 3 MB would take a minute.
TEST(OscTest, AReceiverThatNeverReadsDoesNotHoldUpTheComposition) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  const int small = 1024;
  setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  sockaddr_in place{};
  place.sin_family = AF_INET;
  place.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof place;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&place), sizeof place), 0);
  ASSERT_EQ(listen(listener, 0), 0);  // one connection queued, the next ones wait
  getsockname(listener, reinterpret_cast<sockaddr*>(&place), &length);

  const fs::path file =
      fs::temp_directory_path() / ("wexmidi-osc-stuck-" + std::to_string(getpid()) + ".json");
  std::ofstream(file) << R"({"format": "wexmidi composition", "version": 1, "patches": [
    {"id": "rx", "class": "MIDI_ReceiverPlugIn"}], "connections": []})";
  ProgramProcess program({"--midi", "embedded", "run", file.string(), "--for", "120", "--osc-out",
                          "osc.tcp://127.0.0.1:" + std::to_string(ntohs(place.sin_port)),
                          "--osc-in", "0", "--watch", "rx.outputMessages"});
  const std::string listening = "OSC in on osc.udp://127.0.0.1:";
  ASSERT_TRUE(program.waitFor(1, listening)) << program.text(1);
  ASSERT_TRUE(program.waitFor(1, "\n"));
  const std::string in = program.text(1).substr(program.text(1).find(listening) + listening.size());
  lo_address wexmidi = lo_address_new("127.0.0.1", in.substr(0, in.find('\n')).c_str());

  // Each message is read back from --watch before the next is sent.
  const int kMessages = 120;
  std::vector<uint8_t> sysex(25000, 0x11);
  sysex.front() = 0xF0;
  sysex.back() = 0xF7;
  const auto start = Clock::now();
  for (int i = 0; i < kMessages; ++i) {
    sysex[1] = static_cast<uint8_t>(i);
    lo_blob blob = lo_blob_new(static_cast<int32_t>(sysex.size()), sysex.data());
    lo_send(wexmidi, "/wexmidi/send", "b", blob);
    lo_blob_free(blob);
    ASSERT_TRUE(program.waitFor(0, "\"" + std::to_string(i) + ",17,17")) << i;
  }
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(30))
      << "the composition waited for a receiver that never reads";
  EXPECT_EQ(program.end(), 0);
  lo_address_free(wexmidi);
  close(listener);
  fs::remove(file);
}

Value list(std::vector<Value> values) {
  return Value::structure(Structure::makeList(std::move(values)));
}

TEST(OscTest, EachKindOfValueGoesAsItsOscType) {
  struct Row {
    const char* name;
    Value value;
    bool carriesMessages;
    const char* types;
  };
  const Row rows[] = {
      {"true", Value::boolean(true), false, "T"},
      {"false", Value::boolean(false), false, "F"},
      {"an index in 32 bits", Value::index(2147483647), false, "i"},
      {"a larger index", Value::index(2147483648), false, "h"},
      {"a number a float holds", Value::number(0.5), false, "f"},
      {"a number a float would change", Value::number(0.1), false, "d"},
      {"text", Value::string("hello"), false, "s"},
      {"nothing", Value(), false, "N"},
      {"a structure, its items in order", list({Value::index(1), list({Value::string("a")})}),
       false, "is"},
      {"a message number", Value::index(9452644), true, "m"},
      {"a sysex string", Value::string("126,127,6,1"), true, "b"},
      {"messages in a structure", list({Value::number(9452644), Value::string("1,2")}), true, "mb"},
      {"a number that is no message", Value::index(5), true, "i"},
  };
  for (const auto& row : rows) {
    lo_message message = lo_message_new();
    OscValueWriter::append(message, row.value, row.carriesMessages);
    EXPECT_STREQ(lo_message_get_types(message), row.types) << row.name;
    lo_message_free(message);
  }
}

// One message's bytes, serialised by liblo.
std::vector<uint8_t> serialised(const char* address, lo_message message) {
  size_t size = 0;
  void* data = lo_message_serialise(message, address, nullptr, &size);
  std::vector<uint8_t> bytes(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + size);
  free(data);
  lo_message_free(message);
  return bytes;
}

TEST(OscTest, PacketsAreReadIntoRequestsOrRefusedWithTheirCause) {
  struct Row {
    const char* name;
    std::vector<uint8_t> packet;
    const char* expected;  // the request's input and JSON value, or the refusal's cause
  };
  lo_message several = lo_message_new();
  lo_message_add_int32(several, 1);
  lo_message_add_float(several, 0.5f);
  lo_message_add_true(several);
  lo_message_add_string(several, "x");
  lo_message nothing = lo_message_new();
  lo_message text = lo_message_new();
  lo_message_add_string(text, "on");
  std::vector<uint8_t> nested = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1};
  for (int depth = 0; depth < OscPacketReader::kMaxBundleDepth; ++depth) {
    std::vector<uint8_t> outer(nested.begin(), nested.begin() + 16);
    const auto size = static_cast<uint32_t>(nested.size());
    outer.insert(outer.end(),
                 {uint8_t(size >> 24), uint8_t(size >> 16), uint8_t(size >> 8), uint8_t(size)});
    outer.insert(outer.end(), nested.begin(), nested.end());
    nested = outer;
  }
  const Row rows[] = {
      {"several arguments make a list", serialised("/wexmidi/p/inputX", several),
       "p.inputX [1,0.5,true,\"x\"]"},
      {"a message without arguments", serialised("/wexmidi/p/inputX", nothing), "no value"},
      {"text to an address beyond the scheme", serialised("/wexmidi/p/q/r", text),
       "no such address"},
      {"bytes that are no message", {'/', 'a', 0, 0, ',', 'z', 'z', 0}, "not an OSC message"},
      {"an empty packet", {}, "not an OSC message"},
      {"a bundle element longer than the packet",
       {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0},
       "does not fit the packet"},
      {"bundles nested too deep", nested, "nested more than 8 deep"},
  };
  for (const auto& row : rows) {
    std::vector<OscRequest> requests;
    std::vector<OscRefusal> refusals;
    OscPacketReader::read(row.packet.data(), row.packet.size(), &requests, &refusals);
    ASSERT_EQ(requests.size() + refusals.size(), 1u) << row.name;
    const std::string got =
        requests.empty() ? refusals[0].cause : requests[0].input + " " + requests[0].value.dump();
    EXPECT_THAT(got, HasSubstr(row.expected)) << row.name;
  }
}

}  // namespace
}  // namespace wex
