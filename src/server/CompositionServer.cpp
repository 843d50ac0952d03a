#include "server/CompositionServer.h"

#include <httplib.h>

#include <cmath>
#include <filesystem>

#include "server/CompositionJSON.h"
#include "server/PanelView.h"

namespace wex {

namespace {

using Json = ValueJSON::Json;

constexpr auto kStreamWait = std::chrono::milliseconds(500);
// A comment line now and then shows that a silent stream is alive and finds
// clients that went away.
constexpr int kKeepAliveEvery = 10;  // waits
// A stream writes at most once in this time, taking together what came
// meanwhile: a port's value changes at most about 30 times a second anyway,
// and a burst of MIDI then costs each client one wake-up and one write, not
// one per message.
constexpr auto kGatherTime = std::chrono::milliseconds(25);

void answer(httplib::Response& response, int status, const Json& body) {
  response.status = status;
  response.set_header("Cache-Control", "no-store");
  response.set_content(body.dump(), "application/json");
}

void refuse(httplib::Response& response, int status, const std::string& reason) {
  answer(response, status, Json{{"error", reason}});
}

const char* const kNoPage =
    "<!doctype html><title>wexmidi</title><p>The page was not built (it needs node and npm "
    "at build time). The API is at <a href=\"/api/composition\">/api/composition</a>.</p>";

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
  server_ = std::make_unique<httplib::Server>();
  server_->new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
  server_->set_payload_max_length(kMaxBodyBytes);
  if (options_.port == 0) {
    port_ = server_->bind_to_any_port(options_.host);
  } else {
    port_ = server_->bind_to_port(options_.host, options_.port) ? options_.port : -1;
  }
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
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  return true;
}

void CompositionServer::stop() {
  if (!server_) return;
  logListener_.reset();
  commands_.setObserver(nullptr);
  hub_.closeAll();
  server_->stop();
  if (thread_.joinable()) thread_.join();
  watcher_.stop();
  server_.reset();
}

std::string CompositionServer::url() const {
  const bool ipv6 = options_.host.find(':') != std::string::npos;
  std::string url = "http://" + (ipv6 ? "[" + options_.host + "]" : options_.host) + ":" +
                    std::to_string(port_) + "/";
  if (!options_.token.empty()) url += "?token=" + options_.token;
  return url;
}

void CompositionServer::log(const std::string& line) {
  const std::chrono::duration<double> since = std::chrono::steady_clock::now() - startedAt_;
  Json entry{{"time", std::round(since.count() * 1e3) / 1e3}, {"line", line}};
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
  httplib::Server& server = *server_;
  server.set_pre_routing_handler([this](const httplib::Request& request,
                                        httplib::Response& response) {
    std::string reason;
    const int status =
        guard_->check(request.get_header_value("Host"), request.get_header_value("Origin"),
                      request.get_header_value("Cookie"), request.get_header_value("Authorization"),
                      request.get_param_value("token"), &reason);
    if (status != 0) {
      refuse(response, status, reason);
      return httplib::Server::HandlerResponse::Handled;
    }
    if (guard_->tokenFromParameter(request.get_param_value("token"))) {
      response.set_header("Set-Cookie", guard_->cookie());
    }
    return httplib::Server::HandlerResponse::Unhandled;
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
  server.Get(R"(/api/patches/([^/]+)/panel)",
             [this](const httplib::Request& request, httplib::Response& response) {
               servePanel(request.matches[1], response);
             });
  server.Post("/api/commands",
              [this](const httplib::Request& request, httplib::Response& response) {
                serveCommand(request, response);
              });
  server.Get("/api/events", [this](const httplib::Request&, httplib::Response& response) {
    serveEvents(response);
  });
  if (!options_.webRoot.empty() && std::filesystem::is_directory(options_.webRoot)) {
    server.set_mount_point("/", options_.webRoot);
  } else {
    server.Get("/", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(kNoPage, "text/html");
    });
  }
  server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (!response.body.empty()) return;
    const char* reason = response.status == 413   ? "the request body is above 1 MiB"
                         : response.status == 404 ? "there is nothing here"
                                                  : "the request cannot be served";
    refuse(response, response.status, reason);
  });
}

void CompositionServer::serveComposition(httplib::Response& response) {
  Json body = CompositionJSON::compositionJSON(composition_);
  body["unsaved"] = commands_.unsaved();
  body["ticks"] = composition_.tickCount();
  answer(response, 200, body);
}

void CompositionServer::servePanel(const std::string& id, httplib::Response& response) {
  try {
    Json panel = commands_.perform(Json{{"panel", id}});
    watcher_.watchPanel(id);
    answer(response, 200, panel["panel"]);
  } catch (const CommandError& error) {
    refuse(response, composition_.patch(id) ? 400 : 404, error.what());
  }
}

void CompositionServer::serveCommand(const httplib::Request& request, httplib::Response& response) {
  // A JSON body cannot come from a plain form of another site without the
  // browser asking first.
  if (request.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
    refuse(response, 415, "send the command as application/json");
    return;
  }
  // Read as a line of standard input is: the same limits and errors.
  Json command;
  try {
    command = CompositionCommands::parse(request.body);
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
  response.set_header("Cache-Control", "no-store");
  auto quiet = std::make_shared<int>(0);
  auto wroteAt = std::make_shared<std::chrono::steady_clock::time_point>();
  response.set_chunked_content_provider(
      "text/event-stream",
      [queue, quiet, wroteAt](size_t, httplib::DataSink& sink) {
        std::this_thread::sleep_until(*wroteAt + kGatherTime);
        std::string text = queue->take(kStreamWait);
        if (queue->closed()) return false;
        if (text.empty()) {
          if (++*quiet < kKeepAliveEvery) return true;
          text = ": alive\n\n";
        }
        *quiet = 0;
        *wroteAt = std::chrono::steady_clock::now();
        return sink.write(text.data(), text.size());
      },
      [this, queue](bool) { hub_.unsubscribe(queue); });
  {
    std::lock_guard lock(logMutex_);
    for (const auto& entry : recentLog_) queue->putEvent("log", entry);
  }
  queue->putEvent("state", Json{{"unsaved", commands_.unsaved()}});
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
      break;
  }
  hub_.publishEvent("state", Json{{"unsaved", commands_.unsaved()}});
}

}  // namespace wex
