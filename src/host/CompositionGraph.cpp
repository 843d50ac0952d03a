#include "host/CompositionGraph.h"

#include <algorithm>

#include "host/CompositionError.h"
#include "host/EvaluationOrder.h"
#include "host/QuotedText.h"

namespace wex {

const CompositionGraph::Node* CompositionGraph::find(const std::string& id) const {
  auto found = positions.find(id);
  return found == positions.end() ? nullptr : &nodes[found->second];
}

const CompositionGraph::Node& CompositionGraph::require(const std::string& id) const {
  const Node* node = find(id);
  if (!node) throw CompositionError("there is no patch " + QuotedText::of(id));
  return *node;
}

void CompositionGraph::addNode(Node node) {
  positions.emplace(node.id, nodes.size());
  nodes.push_back(std::move(node));
}

void CompositionGraph::removeNode(const std::string& id) {
  std::erase_if(nodes, [&](const Node& node) { return node.id == id; });
  positions.clear();
  for (size_t i = 0; i < nodes.size(); ++i) positions.emplace(nodes[i].id, i);
}

void CompositionGraph::addConnection(const Connection& connection) {
  connections.push_back(connection);
  inputFeeds.push_back(std::make_shared<InputFeed>(connection));
}

void CompositionGraph::keepConnections(size_t count) {
  connections.resize(count);
  inputFeeds.resize(count);
}

bool CompositionGraph::computeOrder(std::vector<std::string>* cycle) {
  const size_t count = nodes.size();
  std::vector<EvaluationOrder::Edge> edges;
  for (const Connection& connection : connections) {
    auto from = positions.find(connection.from.patchId);
    auto to = positions.find(connection.to.patchId);
    if (from == positions.end() || to == positions.end()) continue;
    edges.emplace_back(from->second, to->second);
  }
  std::vector<size_t> loop;
  if (EvaluationOrder::compute(count, edges, &order, cycle ? &loop : nullptr)) return true;
  if (cycle) {
    // Named from its earliest added patch, whichever connection closed it.
    cycle->clear();
    for (size_t index : loop) cycle->push_back(nodes[index].id);
    cycle->push_back(nodes[loop.front()].id);
  }
  return false;
}

void CompositionGraph::compileFeeds() {
  feeds.assign(nodes.size(), {});
  for (size_t i = 0; i < connections.size(); ++i) {
    auto from = positions.find(connections[i].from.patchId);
    auto to = positions.find(connections[i].to.patchId);
    if (from == positions.end() || to == positions.end()) continue;
    feeds[to->second].push_back(Feed{from->second, inputFeeds[i].get()});
  }
}

// A binary search over the prefixes of the connections.
size_t CompositionGraph::firstCycleConnection(size_t from) const {
  CompositionGraph prefix;
  prefix.nodes = nodes;
  prefix.positions = positions;
  size_t low = from;                 // the first `low` connections make no cycle
  size_t high = connections.size();  // these do
  while (high - low > 1) {
    const size_t middle = low + (high - low) / 2;
    prefix.connections.assign(connections.begin(), connections.begin() + middle);
    if (prefix.computeOrder(nullptr)) {
      low = middle;
    } else {
      high = middle;
    }
  }
  return high - 1;
}

}  // namespace wex
