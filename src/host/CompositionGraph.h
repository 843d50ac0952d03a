#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/InputFeed.h"
#include "host/PortAddress.h"
#include "host/QCPlugIn.h"
#include "host/QCPlugInClass.h"

namespace wex {

// The patches of a composition and the connections between them, with the
// order they run in. A composition never changes a graph it has published:
// it edits a copy and swaps it in, so that a tick in progress keeps a
// consistent one.
struct CompositionGraph {
  struct Node {
    std::string id;
    const QCPlugInClass* plugInClass;
    std::shared_ptr<QCPlugIn> plugIn;
  };

  std::vector<Node> nodes;                            // in the order added
  std::unordered_map<std::string, size_t> positions;  // of nodes, by id
  // A feed into an input of a node, from the node at `source`.
  struct Feed {
    size_t source;
    InputFeed* input;
  };

  std::vector<Connection> connections;
  std::vector<std::shared_ptr<InputFeed>> inputFeeds;  // one per connection
  std::vector<size_t> order;                           // node positions in evaluation order
  std::vector<std::vector<Feed>> feeds;                // per node position, from compileFeeds

  const Node* find(const std::string& id) const;
  // Throws CompositionError when there is no such patch.
  const Node& require(const std::string& id) const;
  void addNode(Node node);
  void removeNode(const std::string& id);

  void addConnection(const Connection& connection);
  // Removes the connections for which `doomed` is true; false when there are none.
  template <class Predicate>
  bool removeConnectionsIf(Predicate doomed);
  // Keeps the first `count` connections.
  void keepConnections(size_t count);

  // Works out `order` from the connections. False when they make
  // a cycle: then `cycle` (if given) names its patches, from its earliest
  // added one back to it.
  bool computeOrder(std::vector<std::string>* cycle);
  // The first connection, from `from` on, whose addition closes a cycle (the
  // graph must have one).
  size_t firstCycleConnection(size_t from) const;
  // Works out, for each node, the feeds into its inputs.
  void compileFeeds();
};

template <class Predicate>
bool CompositionGraph::removeConnectionsIf(Predicate doomed) {
  size_t kept = 0;
  for (size_t i = 0; i < connections.size(); ++i) {
    if (doomed(connections[i])) continue;
    if (kept != i) {
      connections[kept] = std::move(connections[i]);
      inputFeeds[kept] = std::move(inputFeeds[i]);
    }
    ++kept;
  }
  if (kept == connections.size()) return false;
  keepConnections(kept);
  return true;
}

}  // namespace wex
