#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace wex {

// Where each patch sits in a picture of the composition (any unit the editor
// likes; the page uses pixels). Only editors read it: evaluation never does.
// Safe from any thread.
class PatchPositions {
 public:
  struct Point {
    double x = 0;
    double y = 0;
    bool operator==(const Point& other) const = default;
  };

  void set(const std::string& id, Point point);
  void erase(const std::string& id);
  std::optional<Point> get(const std::string& id) const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Point> points_;
};

}  // namespace wex
