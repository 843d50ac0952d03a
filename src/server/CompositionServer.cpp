#include "server/CompositionServer.h"

#include <httplib.h>

#include <array>
#include <cctype>
#include <cmath>

#include "server/CompositionJSON.h"
#include "server/GatedHttpServer.h"
#include "server/PanelView.h"
#include "support/MainThread.h"

namespace wex {

namespace {

using Json = ValueJSON::Json;

constexpr auto kStreamWait = std::chrono::milliseconds(500);
// A comment line now and then shows that a silent stream is alive and finds
// clients that went away.
constexpr int kKeepAliveEvery = 10;  // waits
// A stream writes at most twice in this time, taking together what came
// meanwhile: a port's value changes at most about 30 times a second anyway,
// and a burst of MIDI then costs each client a wake-up and a write per
// 5 ms, not one per message. Twice, because a message comes as two events a
// moment apart, the monitor's line and then the values it changed: the
// second must not wait for the gathering.
constexpr auto kGatherTime = std::chrono::milliseconds(10);

void answer(httplib::Response& response, int status, const Json& body) {
  response.status = status;
  response.set_content(body.dump(), "application/json");
}

void refuse(httplib::Response& response, int status, const std::string& reason) {
  answer(response, status, Json{{"error", reason}});
}

const char* const kCommandsPath = "/api/commands";

// Why the framing of a request is not one this server reads: bodies are
// framed by one Content-Length, or by "Transfer-Encoding: chunked" alone.
std::string framingFault(const httplib::Request& request) {
  const size_t lengths = request.get_header_value_count("Content-Length");
  const size_t encodings = request.get_header_value_count("Transfer-Encoding");
  if (lengths > 1) return "more than one Content-Length";
  if (encodings > 1) return "more than one Transfer-Encoding";
  if (lengths == 1 && encodings == 1) return "both Content-Length and Transfer-Encoding";
  if (encodings == 1) {
    std::string encoding = request.get_header_value("Transfer-Encoding");
    for (char& c : encoding) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (encoding != "chunked") return "Transfer-Encoding other than chunked";
  }
  if (lengths == 1) {
    const std::string length = request.get_header_value("Content-Length");
    if (length.empty() || length.size() > 19 ||
        length.find_first_not_of("0123456789") != std::string::npos) {
      return "a Content-Length that is not a number";
    }
  }
  return "";
}

bool hasBody(const httplib::Request& request) {
  return request.has_header("Transfer-Encoding") ||
         (request.has_header("Content-Length") &&
          request.get_header_value("Content-Length") != "0");
}

const char* const kNoPage =
    "<!doctype html><title>wexmidi</title><p>The page's files were not found: they are built "
    "with node and npm and installed in share/wexmidi/web. The API is at "
    "<a href=\"/api/composition\">/api/composition</a>.</p>";

}  // namespace

CompositionServer::CompositionServer(Composition& composition, CompositionCommands& commands,
                                     Options options)
    : composition_(composition),
      commands_(commands),
      options_(std::move(options)),
      watcher_(composition, hub_) {}

CompositionServer::~CompositionServer() {
  stop();
}

bool CompositionServer::start(std::string* reason) {
  if (!RequestGuard::isLoopback(options_.host) && options_.token.empty()) {
    *reason = "listening on " + options_.host + " (not the loopback) needs a token";
    return false;
  }
  GatedHttpServer::Limits limits;
  limits.workers = kThreads;
  server_ = std::make_unique<GatedHttpServer>(limits);
  server_->set_payload_max_length(kMaxBodyBytes);
  server_->set_default_headers({{"Content-Security-Policy", kContentSecurityPolicy},
                                {"X-Frame-Options", "DENY"},
                                {"X-Content-Type-Options", "nosniff"},
                                {"Referrer-Policy", "no-referrer"},
                                {"Cache-Control", "no-store"}});
  page_ = PageAssets::load(options_.webRoot);
  port_ = server_->bindTo(options_.host, options_.port);
  if (port_ <= 0) {
    *reason = "cannot listen on " + options_.host + ":" + std::to_string(options_.port);
    server_.reset();
    return false;
  }
  guard_ = std::make_unique<RequestGuard>(options_.host, port_, options_.token);
  route();
  commands_.setObserver(
      [this](CompositionCommands::Change change, const std::string& id) { onChange(change, id); });
  logListener_ =
      std::make_unique<SystemLog::Listener>([this](const std::string& line) { log(line); });
  watcher_.start();
  served_ = false;
  thread_ = std::thread([this] {
    server_->serve();
    served_ = true;
  });
  return true;
}

void CompositionServer::stop() {
  if (!server_) return;
  logListener_.reset();
  commands_.setObserver(nullptr);
  // No new connection first, then the streams end: a page that reconnects
  // while the server stops finds nobody listening, never a refusal it would
  // take for an answer.
  server_->halt();
  hub_.closeAll();
  // Requests under way may be waiting for the main thread to run a command.
  while (isMainThread() && thread_.joinable() && !served_.load()) {
    MainThread::runPendingTasks(std::chrono::milliseconds(1));
  }
  if (thread_.joinable()) thread_.join();
  watcher_.stop();
  server_.reset();
}

std::string CompositionServer::url() const {
  // A wildcard address is no place to go to: this machine's loopback is.
  std::string host = options_.host == "0.0.0.0" ? "127.0.0.1"
                     : options_.host == "::"    ? "::1"
                                                : options_.host;
  const bool ipv6 = host.find(':') != std::string::npos;
  std::string url =
      "http://" + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port_) + "/";
  if (!options_.token.empty()) url += "?token=" + options_.token;
  return url;
}

void CompositionServer::log(const std::string& line) {
  const std::chrono::duration<double> since = std::chrono::steady_clock::now() - startedAt_;
  Json entry{{"time", std::round(since.count() * 1e3) / 1e3}, {"line", line}, {"run", run_}};
  {
    // Numbered, so that a page that reconnects knows the lines it has shown.
    std::lock_guard lock(logMutex_);
    entry["number"] = ++logCount_;
    recentLog_.push_back(entry);
    if (recentLog_.size() > kRecentLogLines) recentLog_.pop_front();
  }
  hub_.publishEvent("log", entry);
}

void CompositionServer::route() {
  GatedHttpServer& server = *server_;
  server.set_pre_routing_handler([this](const httplib::Request& request,
                                        httplib::Response& response) {
    return refusedBeforeRouting(request, response) ? httplib::Server::HandlerResponse::Handled
                                                   : httplib::Server::HandlerResponse::Unhandled;
  });
  server.Get("/api/composition", [this](const httplib::Request&, httplib::Response& response) {
    serveComposition(response);
  });
  server.Get("/api/classes", [this](const httplib::Request&, httplib::Response& response) {
    Json classes = Json::array();
    for (const auto& plugInClass : composition_.registry().classes()) {
      classes.push_back(CompositionJSON::classJSON(plugInClass));
    }
    answer(response, 200, classes);
  });
  server.Get("/api/destinations", [this](const httplib::Request&, httplib::Response& response) {
    answer(response, 200, Json{{"destinations", commands_.destinations()}});
  });
  server.Get(R"(/api/patches/([^/]+)/panel)",
             [this](const httplib::Request& request, httplib::Response& response) {
               servePanel(request.matches[1], response);
             });
  server.Post(kCommandsPath, [this](const httplib::Request& request, httplib::Response& response,
                                    const httplib::ContentReader& body) {
    serveCommand(request, response, body);
  });
  server.Get("/api/events", [this](const httplib::Request&, httplib::Response& response) {
    serveEvents(response);
  });
  server.Get("/|/index.html|/assets/[^/]+",
             [this](const httplib::Request& request, httplib::Response& response) {
               if (page_.empty() && request.path == "/") {
                 response.set_content(kNoPage, "text/html; charset=utf-8");
               } else if (const PageAssets::Asset* asset = page_.find(request.path)) {
                 response.set_content(asset->body, asset->type.c_str());
               } else {
                 refuse(response, 404, "there is nothing here");
               }
             });
  server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (!response.body.empty()) return;
    const char* reason = response.status == 413   ? "the request body is above 1 MiB"
                         : response.status == 404 ? "there is nothing here"
                                                  : "the request cannot be served";
    refuse(response, response.status, reason);
  });
}

bool CompositionServer::refusedBeforeRouting(const httplib::Request& request,
                                             httplib::Response& response) {
  std::string reason;
  const int status =
      guard_->check(request.get_header_value("Host"), request.get_header_value("Origin"),
                    request.get_header_value("Cookie"), request.get_header_value("Authorization"),
                    request.get_param_value("token"), &reason);
  if (status != 0) {
    refuse(response, status, reason);
    return true;
  }
  const std::string fault = framingFault(request);
  if (!fault.empty()) {
    refuse(response, 400, "the request's body is framed ambiguously: " + fault);
    return true;
  }
  const bool toCommands = request.method == "POST" && request.path == kCommandsPath;
  if (request.method != "GET" && request.method != "HEAD" && !toCommands) {
    refuse(response, 405, request.method + " " + request.path + " is not served");
    return true;
  }
  if (hasBody(request) && !toCommands) {
    refuse(response, 400, "only POST " + std::string(kCommandsPath) + " takes a body");
    return true;
  }
  if (toCommands && !hasBody(request)) {
    refuse(response, 411, "send the command with a Content-Length or chunked");
    return true;
  }
  if (request.has_header("Content-Length") &&
      std::stoull(request.get_header_value("Content-Length")) > kMaxBodyBytes) {
    refuse(response, 413, "the request body is above 1 MiB");
    return true;
  }
  if (guard_->tokenFromParameter(request.get_param_value("token"))) {
    response.set_header("Set-Cookie", guard_->cookie());
  }
  return false;
}

void CompositionServer::serveComposition(httplib::Response& response) {
  Json body = CompositionJSON::compositionJSON(composition_);
  body["unsaved"] = commands_.unsaved();
  body["undo"] = commands_.undoable();
  body["redo"] = commands_.redoable();
  body["ticks"] = composition_.tickCount();
  answer(response, 200, body);
}

void CompositionServer::servePanel(const std::string& id, httplib::Response& response) {
  Json described;
  performOnMainThreadAndWait([&] {
    if (auto* panel = composition_.openedPanel(id)) described = PanelView::describe(*panel, id);
  });
  if (!described.is_null()) {
    answer(response, 200, described);
  } else if (!composition_.patch(id)) {
    refuse(response, 404, "there is no patch \"" + id + "\"");
  } else {
    refuse(response, 409,
           "the panel of \"" + id + "\" is not open: POST {\"panel\": \"" + id + "\"} to " +
               kCommandsPath + " opens it");
  }
}

// Panels opened by a command are watched for changes; closed ones no more.
void CompositionServer::watchPanels(const Json& command) {
  if (!command.contains("panel") || !command["panel"].is_string()) return;
  const std::string id = command["panel"].get<std::string>();
  if (command.contains("close") && command["close"] == true) {
    watcher_.forgetPanel(id);
  } else {
    watcher_.watchPanel(id);
  }
}

void CompositionServer::serveCommand(const httplib::Request& request, httplib::Response& response,
                                     const httplib::ContentReader& reader) {
  // A JSON body cannot come from a plain form of another site without the
  // browser asking first.
  if (request.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
    refuse(response, 415, "send the command as application/json");
    return;
  }
  // Chunked bodies announce no length: the limit is kept while reading.
  std::string body;
  bool tooLarge = false;
  const bool read = reader([&](const char* data, size_t length) {
    tooLarge = body.size() + length > kMaxBodyBytes;
    if (!tooLarge) body.append(data, length);
    return !tooLarge;
  });
  if (tooLarge) {
    refuse(response, 413, "the request body is above 1 MiB");
    return;
  }
  if (!read) {
    refuse(response, 400,
           "the request body could not be read whole: cut short, malformed, or not all "
           "there within 10 seconds");
    return;
  }
  // Read as a line of standard input is: the same limits and errors.
  Json command;
  try {
    command = CompositionCommands::parse(body);
  } catch (const CommandError& error) {
    refuse(response, 400, error.what());
    return;
  }
  if (!command.is_object()) {
    refuse(response, 400, "the body must be one JSON object");
    return;
  }
  try {
    answer(response, 200, commands_.perform(command));
    watchPanels(command);
  } catch (const CommandForbidden& error) {
    refuse(response, 403, error.what());
  } catch (const CommandError& error) {
    refuse(response, 400, error.what());
  }
}

void CompositionServer::serveEvents(httplib::Response& response) {
  auto queue = hub_.subscribe(kMaxStreams);
  if (!queue) {
    refuse(response, 503, "too many event streams are open");
    return;
  }
  auto quiet = std::make_shared<int>(0);
  // The times of the last two writes, the older first.
  auto wroteAt = std::make_shared<std::array<std::chrono::steady_clock::time_point, 2>>();
  response.set_chunked_content_provider(
      "text/event-stream",
      [queue, quiet, wroteAt](size_t, httplib::DataSink& sink) {
        std::this_thread::sleep_until((*wroteAt)[0] + kGatherTime);
        std::string text = queue->take(kStreamWait);
        if (queue->closed()) return false;
        if (text.empty()) {
          if (++*quiet < kKeepAliveEvery) return true;
          text = ": alive\n\n";
        }
        *quiet = 0;
        *wroteAt = {(*wroteAt)[1], std::chrono::steady_clock::now()};
        return sink.write(text.data(), text.size());
      },
      [this, queue](bool) { hub_.unsubscribe(queue); });
  {
    std::lock_guard lock(logMutex_);
    for (const auto& entry : recentLog_) queue->putEvent("log", entry);
  }
  queue->putEvent("state", stateJSON());
}

// Whether the file holds the composition, and what undo and redo can do.
Json CompositionServer::stateJSON() const {
  return Json{{"unsaved", commands_.unsaved()},
              {"undo", commands_.undoable()},
              {"redo", commands_.redoable()}};
}

void CompositionServer::onChange(CompositionCommands::Change change, const std::string& id) {
  switch (change) {
    case CompositionCommands::Change::Structure:
      hub_.publishEvent("composition", Json{{"id", id}});
      break;
    case CompositionCommands::Change::Panel:
      // On the main thread, within the command.
      if (auto* panel = composition_.openPanel(id)) {
        hub_.publishEvent("panel", PanelView::describe(*panel, id));
      }
      break;
    case CompositionCommands::Change::Values:
    case CompositionCommands::Change::Saved:
    case CompositionCommands::Change::History:
      break;
  }
  hub_.publishEvent("state", stateJSON());
}

}  // namespace wex
