#include "server/GatedHttpServer.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "server/ConnectionStream.h"

namespace wex {

namespace {

// Runs each accepted connection's task at once on the accepting thread: the
// task only hands the connection to the gate.
class HandOverAtOnce : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> task) override { task(); }
  void shutdown() override {}
};

}  // namespace

GatedHttpServer::GatedHttpServer(Limits limits)
    : limits_(limits),
      gate_(limits.head, [this](int socket, std::string head, const std::string& address) {
        workers_->enqueue([this, socket, head = std::move(head), address] {
          serveConnection(socket, head, address);
        });
      }) {
  new_task_queue = [] { return new HandOverAtOnce; };
}

GatedHttpServer::~GatedHttpServer() {
  gate_.stop();
  if (workers_) workers_->shutdown();
}

int GatedHttpServer::bindTo(const std::string& host, int port) {
  const int bound = port == 0 ? bind_to_any_port(host) : bind_to_port(host, port) ? port : -1;
  // The library listens with a queue of 5: a burst of connections would
  // have clients wait a second for their connection to be taken again. The
  // gate takes them quickly, so the queue may be the system's longest.
  if (bound > 0) ::listen(svr_sock_, SOMAXCONN);
  return bound > 0 ? bound : -1;
}

bool GatedHttpServer::serve() {
  workers_ = std::make_unique<httplib::ThreadPool>(limits_.workers);
  gate_.start();
  const bool listened = listen_after_bind();
  listened_ = true;
  gate_.stop();
  workers_->shutdown();
  workers_.reset();
  return listened;
}

void GatedHttpServer::halt() {
  while (!is_running() && !listened_.load()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  stop();
}

bool GatedHttpServer::process_and_close_socket(int socket) {
  gate_.admit(socket);
  return true;
}

void GatedHttpServer::serveConnection(int socket, const std::string& head,
                                      const std::string& address) {
  ConnectionStream stream(socket, head, ConnectionStream::Clock::now() + limits_.bodyTime,
                          limits_.writeTimeout);
  bool closed = false;
  process_request(stream, true, closed, nullptr);
  closeGently(socket);
  gate_.finished(address);
}

// A client may still be sending a body that was refused unread: closing at
// once would reset the connection, and the reset can destroy the answer
// before the client reads it. So the answer is ended, and what still comes
// is read and dropped, for a short while and up to a bound.
void GatedHttpServer::closeGently(int socket) const {
  ::shutdown(socket, SHUT_WR);
  const auto until = std::chrono::steady_clock::now() + limits_.lingerTime;
  char dropped[16384];
  for (size_t total = 0; total < limits_.lingerBytes;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    pollfd entry{socket, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) break;
    const ssize_t count = ::recv(socket, dropped, sizeof dropped, MSG_DONTWAIT);
    if (count <= 0) break;
    total += static_cast<size_t>(count);
  }
  ::close(socket);
}

}  // namespace wex
