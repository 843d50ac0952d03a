#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace wex {

// The system log: one call writes one line to standard error. Tests install a
// Capture to collect the lines instead and compare them exactly.
class SystemLog {
 public:
  static void write(const std::string& line);
  static void writef(const char* format, ...) __attribute__((format(printf, 1, 2)));

  // While a Capture is alive, lines go to it instead of standard error.
  // Captures nest: the newest one gets the lines.
  class Capture {
   public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::vector<std::string> lines() const;
    void clear();

   private:
    friend class SystemLog;
    void append(const std::string& line);

    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    Capture* previous_ = nullptr;
  };

  // While a Listener is alive, it is told every line as well (wherever the
  // line goes), in the order written. It is called with the log's lock held:
  // it must return quickly and write nothing to the log itself.
  class Listener {
   public:
    explicit Listener(std::function<void(const std::string& line)> onLine);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

   private:
    friend class SystemLog;
    std::function<void(const std::string& line)> onLine_;
  };
};

}  // namespace wex
