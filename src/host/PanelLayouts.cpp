#include "host/PanelLayouts.h"

#include <map>
#include <mutex>

namespace wex {

namespace {

std::mutex& layoutsMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, PanelLayout>& layouts() {
  static std::map<std::string, PanelLayout> instance;
  return instance;
}

}  // namespace

void PanelLayouts::registerLayout(const std::string& panelName, PanelLayout layout) {
  std::lock_guard lock(layoutsMutex());
  layouts()[panelName] = std::move(layout);
}

std::optional<PanelLayout> PanelLayouts::find(const std::string& panelName) {
  std::lock_guard lock(layoutsMutex());
  auto found = layouts().find(panelName);
  if (found == layouts().end()) return std::nullopt;
  return found->second;
}

}  // namespace wex
