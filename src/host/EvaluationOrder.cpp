#include "host/EvaluationOrder.h"

#include <algorithm>
#include <functional>
#include <queue>

namespace wex {

bool EvaluationOrder::compute(size_t count, const std::vector<Edge>& edges,
                              std::vector<size_t>* order, std::vector<size_t>* cycle) {
  std::vector<std::vector<size_t>> successors(count);
  std::vector<std::vector<size_t>> predecessors(count);
  std::vector<size_t> incoming(count, 0);
  for (const auto& [from, to] : edges) {
    successors[from].push_back(to);
    predecessors[to].push_back(from);
    ++incoming[to];
  }
  std::priority_queue<size_t, std::vector<size_t>, std::greater<>> ready;
  for (size_t i = 0; i < count; ++i) {
    if (incoming[i] == 0) ready.push(i);
  }
  std::vector<bool> done(count, false);
  order->clear();
  while (!ready.empty()) {
    const size_t next = ready.top();
    ready.pop();
    done[next] = true;
    order->push_back(next);
    for (size_t successor : successors[next]) {
      if (--incoming[successor] == 0) ready.push(successor);
    }
  }
  if (order->size() == count) return true;
  if (cycle) {
    // Every patch left has a predecessor left: walk back until one repeats.
    size_t current = 0;
    while (done[current]) ++current;
    std::vector<size_t> walk;
    std::vector<bool> walked(count, false);
    while (!walked[current]) {
      walked[current] = true;
      walk.push_back(current);
      for (size_t previous : predecessors[current]) {
        if (!done[previous]) {
          current = previous;
          break;
        }
      }
    }
    auto start = std::find(walk.begin(), walk.end(), current);
    std::vector<size_t> loop(start, walk.end());
    std::reverse(loop.begin(), loop.end());
    std::rotate(loop.begin(), std::min_element(loop.begin(), loop.end()), loop.end());
    *cycle = std::move(loop);
  }
  return false;
}

}  // namespace wex
