#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "host/CompositionError.h"
#include "host/CompositionGraph.h"
#include "host/EvaluationThread.h"
#include "host/PatchPositions.h"
#include "host/PlugInRegistry.h"
#include "host/PortAddress.h"
#include "host/QCPlugIn.h"
#include "host/QCPlugInHost.h"
#include "host/QCPlugInViewController.h"

namespace wex {

// Patch instances by id, connections from outputs to inputs, and their
// evaluation. Each tick runs the patches in topological order: providers and
// consumers every tick, processors on their first tick and whenever an input
// changed. Before a patch runs, each connected input takes its source output's
// value (converted between boolean, index and number) when that output was
// assigned since.
//
// Ticks come from an evaluation thread at a set rate, and as soon as a patch
// asks for one (requestEvaluation, at most once per kMinimumRequestInterval), or from evaluate() on
// the caller's thread (never both at once). Patches are made and panels opened and closed on the
// main thread.
class Composition : public QCPlugInHost {
 public:
  // Ticks asked for by patches come at most this often.
  static constexpr auto kMinimumRequestInterval = EvaluationThread::kMinimumRequestInterval;

  explicit Composition(const PlugInRegistry& registry);
  ~Composition() override;
  Composition(const Composition&) = delete;
  Composition& operator=(const Composition&) = delete;

  const PlugInRegistry& registry() const { return registry_; }
  PatchPositions& positions() { return positions_; }
  const PatchPositions& positions() const { return positions_; }

  // Makes a patch (on the main thread) with its property ports at their
  // defaults. Throws CompositionError for a bad or duplicate id or an unknown
  // class. Ids are non-empty and hold no '.'. In a running composition the
  // patch starts executing at once.
  QCPlugIn& addPatch(const std::string& id, const std::string& className);
  // Removes a patch with its connections, position and panel, and stops its
  // execution (on the main thread; waits for a tick in progress). Throws
  // CompositionError when there is no such patch.
  void removePatch(const std::string& id);
  std::shared_ptr<QCPlugIn> patch(const std::string& id) const;
  const QCPlugInClass* patchClass(const std::string& id) const;
  // In the order they were added.
  std::vector<std::string> patchIds() const;

  // Throws CompositionError for a missing patch or port, an input that has a
  // connection already, types that do not convert, or a cycle.
  void connect(const PortAddress& from, const PortAddress& to);
  void disconnect(const PortAddress& to);
  std::vector<Connection> connections() const;
  bool isConnected(const PortAddress& to) const;

  // For loading many patches and connections at once, before the
  // composition runs: between beginChanges and commitChanges, addPatch and
  // connect edit one pending graph, and the evaluation order (with the check
  // for cycles) is worked out once, at the commit. commitChanges throws
  // CompositionCycleError naming the first connection that closed a cycle;
  // the composition is then left without the pending changes' connections.
  void beginChanges();
  void commitChanges();

  // Sets an input as a user would (converted to the port's type; index
  // inputs kept within their maximum). Throws CompositionError for a missing
  // input or a value of the wrong kind.
  void setInputValue(const PortAddress& input, const Value& value);
  Value inputValue(const PortAddress& input) const;
  Value outputValue(const PortAddress& output) const;

  // One tick on the calling thread, at the given composition time (seconds).
  void evaluate(double time);
  // Calls startExecution on every patch, then ticks `rate` times a second
  // on an evaluation thread until stop().
  void start(double rate);
  // Ends the evaluation thread and calls stopExecution on every patch. On the
  // main thread it keeps running main-thread tasks while it waits.
  void stop();
  bool running() const { return running_.load(); }
  // An evaluation as soon as possible (any thread).
  void requestEvaluation();
  // Called on the evaluating thread after each tick with its time.
  void setTickObserver(std::function<void(double time)> observer);
  // Ticks evaluated so far.
  uint64_t tickCount() const { return ticks_.load(); }

  // The patch's settings panel, made on first use; null when the patch has
  // none (or no such patch). The composition owns it until closePanel.
  QCPlugInViewController* openPanel(const std::string& id);
  // The patch's panel if it is open; null otherwise (nothing is opened).
  QCPlugInViewController* openedPanel(const std::string& id);
  void closePanel(const std::string& id);
  void closeAllPanels();

  // QCPlugInHost
  void plugInDidRemovePort(QCPlugIn& plugIn, QCPortDirection direction,
                           const std::string& key) override;
  void plugInRequestsEvaluation(QCPlugIn& plugIn) override;

 private:
  using Graph = CompositionGraph;
  using Node = CompositionGraph::Node;

  std::shared_ptr<const Graph> graph() const;
  void replaceGraph(std::shared_ptr<Graph> graph);
  void removeConnections(const std::function<bool(const Connection&)>& doomed);
  // The graph that changes edit: the pending one between beginChanges and
  // commitChanges, else the current one. Called with graphMutex_ held.
  const Graph& editedGraph() const { return pending_ ? *pending_ : *graph_; }
  void feedInputs(const Graph& graph, size_t position);

  const PlugInRegistry& registry_;
  PatchPositions positions_;
  mutable std::mutex graphMutex_;
  std::shared_ptr<const Graph> graph_;
  std::shared_ptr<Graph> pending_;  // between beginChanges and commitChanges
  size_t pendingFirstConnection_ = 0;
  std::unordered_set<std::string> pendingInputs_;  // inputs connected in pending_

  std::mutex tickMutex_;  // one tick at a time
  std::function<void(double)> tickObserver_;
  std::atomic<uint64_t> ticks_{0};

  std::atomic<bool> running_{false};
  EvaluationThread evaluationThread_;

  std::map<std::string, std::unique_ptr<QCPlugInViewController>> panels_;  // main thread only
};

}  // namespace wex
