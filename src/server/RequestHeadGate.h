#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wex {

// Holds each accepted connection on one thread of its own until its request
// head has come whole, so that a client sending its head slowly (or never)
// costs no worker: a head that is not whole within the deadline, or grows
// past its limit, has its connection closed. Each client address may hold
// at most a set number of connections, waiting and served together; beyond
// it, a new one pushes out that address's oldest waiting one, or is closed
// when all of them are being served. The waiting connections of all
// addresses are bounded too (many addresses, one attacker).
class RequestHeadGate {
 public:
  using Clock = std::chrono::steady_clock;
  // Called on the gate's thread with a connection whose head is whole, the
  // bytes read from it so far and its client's address. The receiver owns
  // the socket from then on and calls finished(address) once it is closed.
  using Ready = std::function<void(int socket, std::string head, const std::string& address)>;

  struct Limits {
    std::chrono::milliseconds headTime{5000};
    size_t headBytes = 64 * 1024;
    size_t connectionsPerAddress = 24;  // half the server's workers
    // Waiting connections of all addresses together; beyond, the oldest goes.
    size_t waitingConnections = 256;
  };

  RequestHeadGate(Limits limits, Ready ready);
  ~RequestHeadGate();
  RequestHeadGate(const RequestHeadGate&) = delete;
  RequestHeadGate& operator=(const RequestHeadGate&) = delete;

  void start();
  // Closes every connection still waiting; none is handed on afterwards.
  void stop();

  // Takes an accepted connection (any thread); the gate owns it until it is
  // handed on.
  void admit(int socket);
  // A connection handed on has been closed.
  void finished(const std::string& address);

  // Where a request head ends in `bytes`, looked for from `from` on; npos
  // while it goes on.
  static size_t headEnd(const std::string& bytes, size_t from);

 private:
  struct Waiting {
    int socket;
    std::string address;
    Clock::time_point deadline;
    std::string bytes;
  };

  void loop();
  void take(int socket);
  void closeExpired();
  // Reads what came; true when the connection is done with here (handed on
  // or closed).
  bool readFrom(Waiting& waiting);
  void wake();  // with mutex_ held

  const Limits limits_;
  const Ready ready_;
  int wakeFd_ = -1;
  std::thread thread_;
  std::deque<Waiting> waiting_;  // the gate's thread only; oldest first

  std::mutex mutex_;  // guards the fields below
  bool stopping_ = false;
  std::vector<int> arrivals_;             // admitted, not yet taken by the gate's thread
  std::map<std::string, size_t> served_;  // by address: connections handed on, still open
};

}  // namespace wex
