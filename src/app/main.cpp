#include <csignal>
#include <exception>
#include <iostream>

#include "app/ControlEscapingBuffer.h"
#include "app/WexmidiProgram.h"
#include "support/MainThread.h"

// The program's own thread is the main thread: list rebuilds and panels run
// here. A command that waits keeps running MainThread::runPendingTasks.
int main(int argc, char** argv) {
  wex::MainThread::designateCurrentThread();
  // A closed standard output (a reader such as `head` that has had enough)
  // shows as a failed write, which ends the printing commands quietly.
  std::signal(SIGPIPE, SIG_IGN);
  wex::ControlEscapingBuffer escaping(std::cerr.rdbuf());
  std::cerr.rdbuf(&escaping);
  int status = 1;
  try {
    status = wex::WexmidiProgram().run(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "wexmidi: " << error.what() << "\n";
  } catch (...) {
    std::cerr << "wexmidi: an unexpected failure\n";
  }
  std::cerr.flush();
  std::cerr.rdbuf(escaping.target());
  return status;
}
