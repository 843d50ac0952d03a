#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "server/RequestHeadGate.h"

namespace wex {

// The HTTP library's server with every connection passing a RequestHeadGate
// first: workers only ever serve requests whose head has come whole, so
// clients that send slowly cannot hold them. Each connection carries one
// request (so every head passes the gate), and the request's body must come
// within its own deadline.
class GatedHttpServer : public httplib::Server {
 public:
  struct Limits {
    RequestHeadGate::Limits head;
    std::chrono::milliseconds bodyTime{10000};
    std::chrono::milliseconds writeTimeout{5000};
    // After the answer, what the client still sends is dropped this long, up
    // to this much, before the connection closes.
    std::chrono::milliseconds lingerTime{1000};
    size_t lingerBytes = 2 * 1024 * 1024;
    size_t workers = 48;
  };

  explicit GatedHttpServer(Limits limits);
  ~GatedHttpServer() override;

  // Binds to the address (port 0: any free one) and listens; the port, or
  // -1 when it cannot.
  int bindTo(const std::string& host, int port);
  // Serves until halt(), as listen_after_bind() does, and then waits for the
  // requests under way.
  bool serve();
  // Ends serve(), also when it has only just been called or is about to be:
  // the library's stop() does nothing before its listening has begun.
  void halt();

 private:
  bool process_and_close_socket(int socket) override;
  void serveConnection(int socket, const std::string& head, const std::string& address);
  void closeGently(int socket) const;

  const Limits limits_;
  std::unique_ptr<httplib::ThreadPool> workers_;
  std::atomic<bool> listened_{false};  // listening has ended
  RequestHeadGate gate_;
};

}  // namespace wex
