#include "host/Composition.h"

#include <algorithm>
#include <chrono>

#include "host/PortConversion.h"
#include "host/QuotedText.h"
#include "support/MainThread.h"
#include "support/OwnerName.h"
#include "support/SystemLog.h"

namespace wex {

namespace {

class HostContext : public QCPlugInContext {};

}  // namespace

Composition::Composition(const PlugInRegistry& registry)
    : registry_(registry),
      graph_(std::make_shared<Graph>()),
      evaluationThread_([this](double time) { evaluate(time); }) {}

Composition::~Composition() {
  stop();
  closeAllPanels();
  auto current = graph();
  for (const auto& node : current->nodes) node.plugIn->setHost(nullptr);
  std::lock_guard lock(graphMutex_);
  graph_.reset();
}

std::shared_ptr<const Composition::Graph> Composition::graph() const {
  std::lock_guard lock(graphMutex_);
  if (pending_) return pending_;
  return graph_;
}

void Composition::replaceGraph(std::shared_ptr<Graph> graph) {
  graph->compileFeeds();
  graph_ = std::move(graph);
}

QCPlugIn& Composition::addPatch(const std::string& id, const std::string& className) {
  if (id.empty() || id.find('.') != std::string::npos) {
    throw CompositionError("a patch id must be non-empty and hold no '.': " + QuotedText::of(id));
  }
  const QCPlugInClass* plugInClass = registry_.classNamed(className);
  if (!plugInClass) throw CompositionError("unknown patch class " + QuotedText::of(className));
  if (graph()->find(id)) throw CompositionError("duplicate patch id " + QuotedText::of(id));

  std::shared_ptr<QCPlugIn> instance;
  performOnMainThreadAndWait([&] {
    // What the patch makes of its own carries its id (named MIDI ports).
    OwnerName::Scope owner(id);
    instance = plugInClass->createInstance();
  });
  if (!instance) throw CompositionError("patch class " + className + " made no patch");

  {
    std::lock_guard lock(graphMutex_);
    if (editedGraph().find(id)) throw CompositionError("duplicate patch id " + QuotedText::of(id));
    if (pending_) {
      pending_->addNode(Node{id, plugInClass, instance});
    } else {
      auto next = std::make_shared<Graph>(*graph_);
      next->addNode(Node{id, plugInClass, instance});
      next->computeOrder(nullptr);
      replaceGraph(std::move(next));
    }
  }
  // Not under the graph's lock: a patch reports removed ports to its host
  // while holding its own host lock, which then takes the graph's.
  instance->setHost(this);
  if (running_.load()) {
    // Added to a running composition: it starts as the others did.
    HostContext context;
    instance->startExecution(context);
    instance->enableExecution(context);
  }
  return *instance;
}

void Composition::removePatch(const std::string& id) {
  std::shared_ptr<QCPlugIn> removed;
  {
    std::lock_guard lock(graphMutex_);
    removed = graph_->require(id).plugIn;
    removeConnections(
        [&](const Connection& c) { return c.from.patchId == id || c.to.patchId == id; });
    auto next = std::make_shared<Graph>(*graph_);
    next->removeNode(id);
    next->computeOrder(nullptr);
    replaceGraph(std::move(next));
  }
  positions_.erase(id);
  closePanel(id);
  removed->setHost(nullptr);
  if (!running_.load()) return;
  // A tick that began before the removal may still run the patch: wait for
  // it, serving the main thread's queue meanwhile, as stop() does.
  while (!tickMutex_.try_lock()) {
    if (isMainThread()) {
      MainThread::runPendingTasks(std::chrono::milliseconds(1));
    } else {
      std::this_thread::yield();
    }
  }
  tickMutex_.unlock();
  HostContext context;
  removed->disableExecution(context);
  removed->stopExecution(context);
}

std::shared_ptr<QCPlugIn> Composition::patch(const std::string& id) const {
  auto current = graph();
  const Node* node = current->find(id);
  return node ? node->plugIn : nullptr;
}

const QCPlugInClass* Composition::patchClass(const std::string& id) const {
  auto current = graph();
  const Node* node = current->find(id);
  return node ? node->plugInClass : nullptr;
}

std::vector<std::string> Composition::patchIds() const {
  std::vector<std::string> ids;
  for (const auto& node : graph()->nodes) ids.push_back(node.id);
  return ids;
}

void Composition::connect(const PortAddress& from, const PortAddress& to) {
  std::lock_guard lock(graphMutex_);
  const Node& source = editedGraph().require(from.patchId);
  const Node& target = editedGraph().require(to.patchId);
  auto output = source.plugIn->portTable().port(QCPortDirection::Output, from.key);
  if (!output) {
    throw CompositionError("patch " + QuotedText::of(from.patchId) + " has no output port " +
                           QuotedText::of(from.key));
  }
  auto input = target.plugIn->portTable().port(QCPortDirection::Input, to.key);
  if (!input) {
    throw CompositionError("patch " + QuotedText::of(to.patchId) + " has no input port " +
                           QuotedText::of(to.key));
  }
  if (!PortConversion::convertible(output->type, input->type)) {
    throw CompositionError(std::string("cannot connect the ") + portTypeName(output->type) +
                           " output " + from.text() + " to the " + portTypeName(input->type) +
                           " input " + to.text());
  }
  for (const auto& connection : editedGraph().connections) {
    if (pending_ && !pendingInputs_.count(to.text())) break;
    if (connection.to == to) {
      throw CompositionError("input " + to.text() + " is connected already (to " +
                             connection.from.text() + ")");
    }
  }
  if (pending_) {
    pending_->addConnection(Connection{from, to});
    pendingInputs_.insert(to.text());
    return;
  }
  auto next = std::make_shared<Graph>(*graph_);
  next->addConnection(Connection{from, to});
  std::vector<std::string> cycle;
  if (!next->computeOrder(&cycle)) {
    std::string path;
    for (const auto& id : cycle) path += (path.empty() ? "" : " -> ") + id;
    throw CompositionError("connecting " + from.text() + " to " + to.text() +
                           " makes a cycle: " + path);
  }
  replaceGraph(std::move(next));
}

void Composition::beginChanges() {
  std::lock_guard lock(graphMutex_);
  if (pending_) return;
  pending_ = std::make_shared<Graph>(*graph_);
  pendingFirstConnection_ = pending_->connections.size();
  pendingInputs_.clear();
  for (const auto& connection : pending_->connections) pendingInputs_.insert(connection.to.text());
}

void Composition::commitChanges() {
  std::lock_guard lock(graphMutex_);
  if (!pending_) return;
  std::shared_ptr<Graph> next = std::move(pending_);
  pendingInputs_.clear();
  if (next->computeOrder(nullptr)) {
    replaceGraph(std::move(next));
    return;
  }
  const size_t closing = next->firstCycleConnection(pendingFirstConnection_);
  const Connection connection = next->connections[closing];
  next->keepConnections(closing + 1);
  std::vector<std::string> cycle;
  next->computeOrder(&cycle);
  // Keep the patches, without the connections made since beginChanges.
  next->keepConnections(pendingFirstConnection_);
  next->computeOrder(nullptr);
  replaceGraph(std::move(next));
  std::string path;
  for (const auto& id : cycle) path += (path.empty() ? "" : " -> ") + id;
  throw CompositionCycleError("connecting " + connection.from.text() + " to " +
                                  connection.to.text() + " makes a cycle: " + path,
                              closing - pendingFirstConnection_);
}

void Composition::disconnect(const PortAddress& to) {
  std::lock_guard lock(graphMutex_);
  removeConnections([&](const Connection& connection) { return connection.to == to; });
}

// Called with graphMutex_ held.
void Composition::removeConnections(const std::function<bool(const Connection&)>& doomed) {
  auto next = std::make_shared<Graph>(editedGraph());
  if (!next->removeConnectionsIf(doomed)) return;
  if (pending_) {
    pending_ = std::move(next);
    pendingInputs_.clear();
    for (const auto& c : pending_->connections) pendingInputs_.insert(c.to.text());
    return;
  }
  next->computeOrder(nullptr);
  replaceGraph(std::move(next));
}

std::vector<Connection> Composition::connections() const {
  return graph()->connections;
}

bool Composition::isConnected(const PortAddress& to) const {
  auto current = graph();
  return std::any_of(current->connections.begin(), current->connections.end(),
                     [&](const Connection& connection) { return connection.to == to; });
}

void Composition::setInputValue(const PortAddress& input, const Value& value) {
  auto current = graph();
  const Node& node = current->require(input.patchId);
  switch (node.plugIn->portTable().setInputValue(input.key, value)) {
    case PortTable::SetResult::NoSuchPort:
      throw CompositionError("patch " + QuotedText::of(input.patchId) + " has no input port " +
                             QuotedText::of(input.key));
    case PortTable::SetResult::WrongType: {
      auto port = node.plugIn->portTable().port(QCPortDirection::Input, input.key);
      throw CompositionError("input " + input.text() + " takes " +
                             (port ? portTypeName(port->type) : "another kind") + " values, not " +
                             Value::typeName(value.type()));
    }
    default:
      break;
  }
}

Value Composition::inputValue(const PortAddress& input) const {
  auto plugIn = patch(input.patchId);
  return plugIn ? plugIn->portTable().inputValue(input.key) : Value();
}

Value Composition::outputValue(const PortAddress& output) const {
  auto plugIn = patch(output.patchId);
  if (!plugIn) return Value();
  auto port = plugIn->portTable().port(QCPortDirection::Output, output.key);
  return port ? port->value : Value();
}

void Composition::feedInputs(const Graph& graph, size_t position) {
  PortTable& target = graph.nodes[position].plugIn->portTable();
  for (const Graph::Feed& feed : graph.feeds[position]) {
    feed.input->feed(graph.nodes[feed.source].plugIn->portTable(), target);
  }
}

void Composition::evaluate(double time) {
  std::lock_guard tickLock(tickMutex_);
  // The committed graph: its feeds are compiled, a pending one's are not.
  std::shared_ptr<const Graph> current;
  {
    std::lock_guard lock(graphMutex_);
    current = graph_;
  }
  HostContext context;
  for (size_t index : current->order) {
    const Node& node = current->nodes[index];
    feedInputs(*current, index);
    PortTable& ports = node.plugIn->portTable();
    if (node.plugInClass->executionMode == QCPlugInExecutionMode::Processor &&
        !ports.anyInputChangedSinceExecution()) {
      continue;
    }
    ports.beginExecution();
    try {
      node.plugIn->execute(context, time, Value());
    } catch (const std::exception& failure) {
      SystemLog::writef("patch %s failed: %s", node.id.c_str(), failure.what());
    }
  }
  ticks_.fetch_add(1);
  if (tickObserver_) tickObserver_(time);
}

void Composition::setTickObserver(std::function<void(double)> observer) {
  std::lock_guard lock(tickMutex_);
  tickObserver_ = std::move(observer);
}

void Composition::start(double rate) {
  if (running_.exchange(true)) return;
  HostContext context;
  for (const auto& node : graph()->nodes) {
    node.plugIn->startExecution(context);
    node.plugIn->enableExecution(context);
  }
  evaluationThread_.start(rate);
}

void Composition::stop() {
  if (!running_.load()) return;
  evaluationThread_.stop();
  HostContext context;
  for (const auto& node : graph()->nodes) {
    node.plugIn->disableExecution(context);
    node.plugIn->stopExecution(context);
  }
  running_ = false;
}

QCPlugInViewController* Composition::openPanel(const std::string& id) {
  QCPlugInViewController* result = nullptr;
  performOnMainThreadAndWait([&] {
    auto open = panels_.find(id);
    if (open != panels_.end()) {
      result = open->second.get();
      return;
    }
    auto plugIn = patch(id);
    if (!plugIn) return;
    auto controller = plugIn->createViewController();
    if (!controller) return;
    result = controller.get();
    panels_[id] = std::move(controller);
  });
  return result;
}

QCPlugInViewController* Composition::openedPanel(const std::string& id) {
  QCPlugInViewController* result = nullptr;
  performOnMainThreadAndWait([&] {
    auto open = panels_.find(id);
    if (open != panels_.end()) result = open->second.get();
  });
  return result;
}

void Composition::closePanel(const std::string& id) {
  performOnMainThreadAndWait([&] { panels_.erase(id); });
}

void Composition::closeAllPanels() {
  performOnMainThreadAndWait([&] { panels_.clear(); });
}

void Composition::plugInDidRemovePort(QCPlugIn& plugIn, QCPortDirection direction,
                                      const std::string& key) {
  std::lock_guard lock(graphMutex_);
  if (!graph_) return;
  std::string id;
  for (const auto& node : editedGraph().nodes) {
    if (node.plugIn.get() == &plugIn) id = node.id;
  }
  if (id.empty()) return;
  const PortAddress port{id, key};
  removeConnections([&](const Connection& c) {
    return direction == QCPortDirection::Output ? c.from == port : c.to == port;
  });
}

void Composition::requestEvaluation() {
  evaluationThread_.request();
}

void Composition::plugInRequestsEvaluation(QCPlugIn&) {
  requestEvaluation();
}

}  // namespace wex
