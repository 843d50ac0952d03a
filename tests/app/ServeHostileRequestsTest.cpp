#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "shared/TestPaths.h"

namespace wex {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

const std::string kToken = "0123456789abcdef0123";

std::string readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// `wexmidi serve` started as a user starts it, in a folder of its own, with
// lines given on its standard input.
class ServeProcess {
 public:
  ServeProcess(const fs::path& folder, const std::string& input) {
    int in[2], out[2];
    EXPECT_EQ(pipe(in), 0);
    EXPECT_EQ(pipe(out), 0);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);
      close(out[0]);
      fs::current_path(folder);
      execl(::wex::test::kProgramPath, ::wex::test::kProgramPath, "--midi", "embedded", "serve",
            "served.json", "--listen", "127.0.0.1:0", "--token", kToken.c_str(), "--web", "web",
            "--for", "120", nullptr);
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    output_ = fdopen(out[0], "r");
    char line[256] = {};
    if (fgets(line, sizeof line, output_)) {
      port = std::stoi(std::string(line).substr(std::string("http://127.0.0.1:").size()));
    }
    EXPECT_EQ(write(in[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    input_ = in[1];
  }
  ~ServeProcess() {
    close(input_);
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    fclose(output_);
  }
  // The most memory the server has held so far, in KiB.
  long peakMemory() const {
    const std::string status = readFile("/proc/" + std::to_string(pid_) + "/status");
    const size_t at = status.find("VmHWM:");
    return at == std::string::npos ? 0 : std::stol(status.substr(at + 6));
  }

  int port = 0;

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  FILE* output_ = nullptr;
};

int connectTo(int port) {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  timeval timeout{10, 0};
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  return socket;
}

// Sends the request bytes (as many as the server takes) and returns its
// whole answer.
std::string exchange(int port, const std::string& request) {
  const int socket = connectTo(port);
  for (size_t at = 0; at < request.size();) {
    const ssize_t sent = send(socket, request.data() + at, request.size() - at, MSG_NOSIGNAL);
    if (sent <= 0) break;
    at += static_cast<size_t>(sent);
  }
  std::string answer;
  char buffer[4096];
  for (ssize_t got; (got = recv(socket, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, got);
  close(socket);
  return answer;
}

int statusOf(const std::string& answer) {
  return answer.size() > 12 ? std::atoi(answer.c_str() + 9) : 0;
}

// A sanitizer's shadow memory and its quarantine of freed blocks grow the
// program's memory by tens of MiB: there it says nothing about what the
// server kept.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kServerMemoryIsItsOwn = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kServerMemoryIsItsOwn = false;
#else
constexpr bool kServerMemoryIsItsOwn = true;
#endif
#else
constexpr bool kServerMemoryIsItsOwn = true;
#endif

std::string chunked(size_t total) {
  std::string body;
  const std::string chunk = "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
  for (size_t sent = 0; sent < total; sent += 0x10000) body += chunk;
  return body + "0\r\n\r\n";
}

class ServeHostileRequestsTest : public ::testing::Test {
 protected:
  ServeHostileRequestsTest()
      : folder_(fs::temp_directory_path() / ("wexmidi-hostile-" + std::to_string(getpid()))) {
    fs::create_directories(folder_ / "web" / "assets");
    fs::copy_file(fs::path(::wex::test::kSourceDir) / "examples" / "distributors.wexcomp.json",
                  folder_ / "served.json");
    std::ofstream(folder_ / "web" / "index.html") << "<!doctype html><title>page</title>";
    std::ofstream(folder_ / "web" / "assets" / "app.js") << "\"use strict\";";
  }
  ~ServeHostileRequestsTest() override { fs::remove_all(folder_); }

  // The files of the folder, and those a save out of it would have made.
  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder_)) {
      names.insert(entry.path().lexically_relative(folder_).string());
    }
    for (const char* outside : {"up.json", "stdin.json", "wexmidi-hostile.json"}) {
      if (fs::exists(folder_.parent_path() / outside)) names.insert(outside);
    }
    return names;
  }

  fs::path folder_;
};

TEST_F(ServeHostileRequestsTest, EachHostileRequestGetsItsAnswerAndNothingIsWrittenOrGrows) {
  const std::string served = readFile(folder_ / "served.json");
  const auto before = files();
  ServeProcess server(folder_, "{\"save\": \"stdin-copy.json\"}\n{\"save\": \"../stdin.json\"}\n");
  ServeProcess other(folder_, "");
  ASSERT_GT(server.port, 0);
  ASSERT_GT(other.port, 0);
  const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port) + "\r\n";
  const std::string cookie = "Cookie: wexmidi-token-" + std::to_string(other.port) +
                             "=not-this-one; wexmidi-token-" + std::to_string(server.port) + "=" +
                             kToken + "\r\n";
  const std::string json = "Content-Type: application/json\r\n";
  const auto post = [&](const std::string& body, const std::string& extra = "") {
    return "POST /api/commands HTTP/1.1\r\n" + host + cookie + json + extra +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  };
  const auto get = [&](const std::string& path) {
    return "GET " + path + " HTTP/1.1\r\n" + host + cookie + "\r\n";
  };
  const long memoryBefore = server.peakMemory();

  struct Row {
    const char* what;
    std::string request;
    int status;
    std::string says;
  };
  const std::vector<Row> rows = {
      {"a save to a name beside the file", post(R"({"save": "copy.json"})"), 403, "served file"},
      {"a save up the tree", post(R"({"save": "../up.json"})"), 403, "served file"},
      {"a save to an absolute path", post(R"({"save": "/tmp/wexmidi-hostile.json"})"), 403,
       "served file"},
      {"a save from another site", post(R"({"save": true})", "Origin: http://evil.example\r\n"),
       403, "origin"},
      {"an origin that only starts with the page's",
       post(R"({"save": true})",
            "Origin: http://127.0.0.1:" + std::to_string(server.port) + ".evil.example\r\n"),
       403, "origin"},
      {"the token with a letter more",
       "GET /api/composition HTTP/1.1\r\n" + host + "Authorization: Bearer " + kToken + "x\r\n\r\n",
       401, "token"},
      {"a body over the limit, chunked",
       "POST /api/commands HTTP/1.1\r\n" + host + cookie + json +
           "Transfer-Encoding: chunked\r\n\r\n" + chunked(64 << 20),
       413, "above 1 MiB"},
      {"a length over the limit, body never sent",
       "POST /api/commands HTTP/1.1\r\n" + host + cookie + json +
           "Content-Length: 67108864\r\n\r\n",
       413, "above 1 MiB"},
      {"both framings", post("{}", "Transfer-Encoding: chunked\r\n"), 400, "framed ambiguously"},
      {"two lengths", post("{}", "Content-Length: 2\r\n"), 400, "framed ambiguously"},
      {"an encoding other than chunked",
       "POST /api/commands HTTP/1.1\r\n" + host + cookie + json +
           "Transfer-Encoding: gzip\r\n\r\n{}",
       400, "framed ambiguously"},
      {"a POST with neither", "POST /api/commands HTTP/1.1\r\n" + host + cookie + json + "\r\n",
       411, "Content-Length"},
      {"a body elsewhere",
       "PUT /served.json HTTP/1.1\r\n" + host + cookie + "Content-Length: 2\r\n\r\n{}", 405,
       "not served"},
      {"a NUL in an asset's name", get("/assets/app.js%00.html"), 404, "nothing here"},
      {"a way out of the assets", get("/assets/..%2Fserved.json"), 404, "nothing here"},
      {"the served file by name", get("/served.json"), 404, "nothing here"},
      {"a panel not opened", get("/api/patches/rx/panel"), 409, "not open"},
      {"the same panel again: a GET opened nothing", get("/api/patches/rx/panel"), 409, "not open"},
      {"the cookie of the other server",
       "GET /api/composition HTTP/1.1\r\n" + host + "Cookie: wexmidi-token-" +
           std::to_string(other.port) + "=" + kToken + "\r\n\r\n",
       401, "token"},
      {"the token as a parameter sets this server's own cookie",
       "GET /api/classes?token=" + kToken + " HTTP/1.1\r\n" + host + "\r\n", 200,
       "Set-Cookie: wexmidi-token-" + std::to_string(server.port) + "="},
      {"the page's script", get("/assets/app.js"), 200, "use strict"},
      {"a number no message has, refused as wexmidi send refuses it",
       post(R"({"send": [18446744073709551615]})"), 400, "above 16777215"},
      {"a save of the served file", post(R"({"save": true})"), 200, "saved"},
  };
  for (const auto& row : rows) {
    const std::string answer = exchange(server.port, row.request);
    EXPECT_EQ(statusOf(answer), row.status) << row.what << "\n" << answer;
    EXPECT_THAT(answer, HasSubstr(row.says)) << row.what;
    for (const char* header :
         {"Content-Security-Policy: default-src 'self'; frame-ancestors 'none'\r\n",
          "X-Content-Type-Options: nosniff\r\n", "Referrer-Policy: no-referrer\r\n"}) {
      EXPECT_THAT(answer, HasSubstr(header)) << row.what;
    }
  }
  if (kServerMemoryIsItsOwn) {
    EXPECT_LT(server.peakMemory() - memoryBefore, 16 * 1024) << "KiB: a body was kept whole";
  }
  EXPECT_EQ(files(), before) << "only the served file may be written";
  EXPECT_EQ(nlohmann::json::parse(readFile(folder_ / "served.json")), nlohmann::json::parse(served))
      << "saved unchanged";
}

TEST_F(ServeHostileRequestsTest, ANormalRequestIsAnsweredWhile200ClientsSendTheirHeadsSlowly) {
  ServeProcess server(folder_, "");
  ASSERT_GT(server.port, 0);
  const std::string request =
      "GET /api/classes HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port) +
      "\r\nAuthorization: Bearer " + kToken + "\r\n\r\n";
  std::vector<int> slow;
  for (int i = 0; i < 200; ++i) slow.push_back(connectTo(server.port));
  for (size_t at = 0; at < 3; ++at) {
    for (int socket : slow) send(socket, request.data() + at, 1, MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    // A liveness check with a generous bound, not a measurement.
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(statusOf(exchange(server.port, request)), 200);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(3));
  }
  for (int socket : slow) close(socket);
}

}  // namespace
}  // namespace wex
