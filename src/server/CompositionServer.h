#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host/Composition.h"
#include "server/CompositionCommands.h"
#include "server/CompositionWatcher.h"
#include "server/EventHub.h"
#include "server/PageAssets.h"
#include "server/RequestGuard.h"
#include "support/SystemLog.h"

namespace httplib {
class Request;
class Response;
class ContentReader;
}  // namespace httplib

namespace wex {

class GatedHttpServer;

// The HTTP API and event stream of a running composition, and the page:
//
//   GET  /api/composition        patches, ports with values, connections, positions
//   GET  /api/classes            the patch classes
//   GET  /api/patches/ID/panel   an open settings panel as data (409 when closed)
//   GET  /api/destinations       the MIDI destinations a send can name
//   POST /api/commands           one command (see CompositionCommands); 400 when bad,
//                                403 when it reaches beyond the served file
//   GET  /api/events             Server-Sent Events: values, composition, panel, midi,
//                                log, state, failure, dropped
//   GET  /, /assets/NAME         the page's files, read when the server starts
//
// GETs change nothing. Every request passes the RequestGuard (403, 401) and
// a check of its framing before its body is read: only POST /api/commands
// takes a body, of at most 1 MiB whether chunked or not (413). Connections
// pass a RequestHeadGate (see GatedHttpServer) and are served on the
// server's own threads; commands run on the main thread.
class CompositionServer {
 public:
  struct Options {
    std::string host = "127.0.0.1";
    int port = 8760;      // 0: any free port
    std::string token;    // required when not on the loopback
    std::string webRoot;  // the built page; none: a short note instead
  };
  static constexpr size_t kMaxBodyBytes = 1 << 20;
  static constexpr size_t kThreads = 48;
  // Answers carry these: no framing by other sites, no sniffing of types.
  static constexpr const char* kContentSecurityPolicy =
      "default-src 'self'; frame-ancestors 'none'";
  // Event streams beyond this are refused (503), so requests always find a thread.
  static constexpr size_t kMaxStreams = 16;
  // A client that connects is first shown this many of the latest log lines.
  static constexpr size_t kRecentLogLines = 50;

  CompositionServer(Composition& composition, CompositionCommands& commands, Options options);
  ~CompositionServer();
  CompositionServer(const CompositionServer&) = delete;
  CompositionServer& operator=(const CompositionServer&) = delete;

  // Binds and starts serving on a thread of its own. False, with the reason,
  // when the address cannot be bound (or needs a token that is missing).
  bool start(std::string* reason);
  void stop();

  int port() const { return port_; }
  // The page's address, with the token when there is one.
  std::string url() const;
  EventHub& events() { return hub_; }
  // An evaluation ended: its values reach the page soon, not at the next
  // look. Call on the evaluating thread (from the composition's tick observer).
  void evaluated() { watcher_.evaluated(); }
  // A line for the page's log: the system log's lines come here while the
  // server runs, and the program adds its own (any thread).
  void log(const std::string& line);

 private:
  void route();
  // Refuses, before any body is read, what the guard refuses and requests
  // whose framing or size is not one this server takes.
  bool refusedBeforeRouting(const httplib::Request& request, httplib::Response& response);
  void serveComposition(httplib::Response& response);
  void servePanel(const std::string& id, httplib::Response& response);
  void serveCommand(const httplib::Request& request, httplib::Response& response,
                    const httplib::ContentReader& body);
  void watchPanels(const ValueJSON::Json& command);
  void serveEvents(httplib::Response& response);
  void onChange(CompositionCommands::Change change, const std::string& id);
  ValueJSON::Json stateJSON() const;

  Composition& composition_;
  CompositionCommands& commands_;
  Options options_;
  std::unique_ptr<RequestGuard> guard_;
  EventHub hub_;
  CompositionWatcher watcher_;
  PageAssets page_;
  std::unique_ptr<GatedHttpServer> server_;
  std::thread thread_;
  std::atomic<bool> served_{false};  // set when thread_ has stopped serving
  int port_ = 0;
  const std::chrono::steady_clock::time_point startedAt_ = std::chrono::steady_clock::now();
  // Tells a page this server's log from an earlier one's, whose numbers
  // started at 1 too.
  const int64_t run_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();

  std::mutex logMutex_;  // guards the two below; taken after the system log's lock
  std::deque<ValueJSON::Json> recentLog_;
  uint64_t logCount_ = 0;
  std::unique_ptr<SystemLog::Listener> logListener_;
};

}  // namespace wex
