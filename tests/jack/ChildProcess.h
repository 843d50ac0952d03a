#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace wex::test {

// A program the tests start (a JACK server or a JACK example client), with
// its standard output and error going to a file. It is stopped, by its
// process id, when the object goes away.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& arguments,
               const std::map<std::string, std::string>& environment = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // Sends `signal` (SIGSTOP, SIGCONT...) while the program runs.
  void signal(int signal);
  // The stop signal (SIGTERM unless set), then SIGKILL if it is still there
  // after the stop grace.
  void stop();
  void setStopGrace(std::chrono::milliseconds grace) { stopGrace_ = grace; }
  void setStopSignal(int signal) { stopSignal_ = signal; }
  // Waits for the program to end by itself; true when it ended with status 0.
  bool waitForExit(std::chrono::milliseconds timeout);
  std::string output() const;

 private:
  pid_t pid_ = -1;
  std::string outputPath_;
  std::chrono::milliseconds stopGrace_{2000};
  int stopSignal_ = SIGTERM;
};

// Polls `condition` until it holds or `timeout` passes.
bool waitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// A name that no other test process uses at the same time.
std::string uniqueName(const std::string& prefix);

}  // namespace wex::test
