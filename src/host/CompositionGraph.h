#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

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
  std::vector<Connection> connections;
  std::vector<size_t> order;  // node positions in evaluation order
  // Per node position: the connections into it, and their sources' positions.
  std::vector<std::vector<std::pair<size_t, size_t>>> feeds;

  const Node* find(const std::string& id) const;
  // Throws CompositionError when there is no such patch.
  const Node& require(const std::string& id) const;
  void addNode(Node node);
  void removeNode(const std::string& id);

  // Works out `order` and `feeds` from the connections. False when they make
  // a cycle: then `cycle` (if given) names its patches, from its earliest
  // added one back to it.
  bool computeOrder(std::vector<std::string>* cycle);
  // The first connection, from `from` on, whose addition closes a cycle (the
  // graph must have one).
  size_t firstCycleConnection(size_t from) const;
};

}  // namespace wex
