#include "server/CompositionWatcher.h"

#include "server/CompositionJSON.h"
#include "server/PanelView.h"
#include "support/MainThread.h"

namespace wex {

namespace {

constexpr auto kLookPeriod = std::chrono::milliseconds(10);
constexpr auto kLeastLookGap = std::chrono::milliseconds(2);
constexpr auto kPanelPeriod = std::chrono::milliseconds(250);
constexpr auto kMinimumGap = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
    std::chrono::duration<double>(1.0 / CompositionWatcher::kMaxUpdatesPerSecond));

}  // namespace

CompositionWatcher::CompositionWatcher(Composition& composition, EventHub& hub)
    : composition_(composition), hub_(hub) {}

CompositionWatcher::~CompositionWatcher() {
  stop();
}

void CompositionWatcher::start() {
  if (thread_.joinable()) return;
  stopping_ = false;
  finished_ = false;
  thread_ = std::thread([this] { loop(); });
}

void CompositionWatcher::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  // The watcher may be waiting for the main thread to read a panel.
  if (isMainThread()) {
    while (thread_.joinable() && !finished_.load()) {
      MainThread::runPendingTasks(std::chrono::milliseconds(1));
    }
  }
  if (thread_.joinable()) thread_.join();
}

void CompositionWatcher::watchPanel(const std::string& id) {
  std::lock_guard lock(mutex_);
  panels_.insert(id);
}

void CompositionWatcher::forgetPanel(const std::string& id) {
  std::lock_guard lock(mutex_);
  panels_.erase(id);
}

void CompositionWatcher::evaluated() {
  if (!evaluated_.exchange(true)) wake_.notify_one();
}

void CompositionWatcher::loop() {
  while (waitForALook()) {
    if (hub_.clientCount() == 0) continue;
    lookAtValues();
    if (Clock::now() - panelsLookedAt_ >= kPanelPeriod) {
      panelsLookedAt_ = Clock::now();
      lookAtPanels();
    }
  }
  finished_ = true;
}

bool CompositionWatcher::waitForALook() {
  std::unique_lock lock(mutex_);
  // A flood of evaluations is looked at every kLeastLookGap, not after each.
  if (wake_.wait_until(lock, lookedAt_ + kLeastLookGap, [this] { return stopping_; })) {
    return false;
  }
  wake_.wait_for(lock, kLookPeriod, [this] { return stopping_ || evaluated_.load(); });
  evaluated_ = false;
  lookedAt_ = Clock::now();
  return !stopping_;
}

void CompositionWatcher::lookAtValues() {
  const auto now = Clock::now();
  bool structureChanged = false;
  for (const auto& id : composition_.patchIds()) {
    auto plugIn = composition_.patch(id);
    if (!plugIn) continue;
    std::string keys;
    for (auto direction : {QCPortDirection::Input, QCPortDirection::Output}) {
      keys += direction == QCPortDirection::Input ? "<" : ">";
      for (const auto& port : plugIn->portTable().ports(direction)) {
        keys += port.key + ",";
        Seen& seen = seen_[id + "." + port.key];
        if (port.version == seen.version || now - seen.sentAt < kMinimumGap) continue;
        seen.version = port.version;
        seen.sentAt = now;
        hub_.publishValue(id + "." + port.key, ValueJSON::toJSON(port.value));
      }
    }
    auto [list, added] = portLists_.try_emplace(id, keys);
    if (!added && list->second != keys) structureChanged = true;
    list->second = keys;
  }
  if (structureChanged) hub_.publishEvent("composition", ValueJSON::Json::object());
}

void CompositionWatcher::lookAtPanels() {
  std::set<std::string> panels;
  {
    std::lock_guard lock(mutex_);
    panels = panels_;
  }
  for (const auto& id : panels) {
    ValueJSON::Json described;
    bool stop = false;
    performOnMainThreadAndWait([&] {
      {
        std::lock_guard lock(mutex_);
        stop = stopping_;
      }
      if (stop) return;
      // Looked at, never opened: a panel closed or a patch removed is
      // forgotten (here, so that a command opening it again comes before or
      // after, never between).
      if (auto* panel = composition_.openedPanel(id)) {
        described = PanelView::describe(*panel, id);
      } else {
        forgetPanel(id);
      }
    });
    if (stop) return;
    if (described.is_null()) {
      panelTexts_.erase(id);
      continue;
    }
    std::string text = described.dump();
    std::string& last = panelTexts_[id];
    if (last == text) continue;
    last = std::move(text);
    hub_.publishEvent("panel", described);
  }
}

}  // namespace wex
