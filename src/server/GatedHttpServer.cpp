#include "server/GatedHttpServer.h"

#include <sys/socket.h>
#include <unistd.h>

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

bool GatedHttpServer::serve() {
  workers_ = std::make_unique<httplib::ThreadPool>(limits_.workers);
  gate_.start();
  const bool listened = listen_after_bind();
  gate_.stop();
  workers_->shutdown();
  workers_.reset();
  return listened;
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
  ::shutdown(socket, SHUT_RDWR);
  ::close(socket);
  gate_.finished(address);
}

}  // namespace wex
