#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "services/MIDITypes.h"

namespace wex {

// What every backend knows of an endpoint it lists; a backend's own endpoint
// type adds where the endpoint is found.
struct ListedEndpoint {
  MIDIEndpointRef ref = 0;
  bool isSource = false;
  std::string name;
  int32_t uniqueID = 0;
  bool physical = false;
  bool present = false;

  // Stable across runs: a hash of the key the endpoint is known by.
  static int32_t uniqueIDFor(const std::string& key);
};

// The endpoints a backend lists, each known by a key (a port's name). A
// reference, once given to a key, stays with it for the life of the services,
// so an endpoint that goes away and comes back (a device replugged, a server
// restarted) is the same endpoint again. Not locked: the backend holds its
// own lock around it.
template <typename Endpoint>
class EndpointTable {
 public:
  explicit EndpointTable(std::function<MIDIObjectRef()> newRef) : newRef_(std::move(newRef)) {}

  // The endpoint known by `key`, made on first use and named after the key.
  Endpoint& endpointFor(bool isSource, const std::string& key) {
    const auto wanted = std::make_pair(isSource, key);
    if (auto found = refsByKey_.find(wanted); found != refsByKey_.end()) {
      return endpoints_.at(found->second);
    }
    Endpoint endpoint;
    endpoint.ref = newRef_();
    endpoint.isSource = isSource;
    endpoint.name = key;
    endpoint.uniqueID = ListedEndpoint::uniqueIDFor(key);
    refsByKey_[wanted] = endpoint.ref;
    return endpoints_[endpoint.ref] = std::move(endpoint);
  }
  // The endpoint known by `key`; null when none is.
  const Endpoint* findByKey(bool isSource, const std::string& key) const {
    auto found = refsByKey_.find(std::make_pair(isSource, key));
    return found == refsByKey_.end() ? nullptr : &endpoints_.at(found->second);
  }
  // The endpoint known by `oldKey` is known by `newKey` from now on.
  void rekey(bool isSource, const std::string& oldKey, const std::string& newKey) {
    auto found = refsByKey_.find(std::make_pair(isSource, oldKey));
    if (found == refsByKey_.end()) return;
    const MIDIEndpointRef ref = found->second;
    refsByKey_.erase(found);
    refsByKey_[std::make_pair(isSource, newKey)] = ref;
  }

  const Endpoint* find(MIDIEndpointRef ref) const {
    auto found = endpoints_.find(ref);
    return found == endpoints_.end() ? nullptr : &found->second;
  }
  Endpoint* find(MIDIEndpointRef ref) {
    auto found = endpoints_.find(ref);
    return found == endpoints_.end() ? nullptr : &found->second;
  }
  const std::map<MIDIEndpointRef, Endpoint>& all() const { return endpoints_; }

  // A new listing starts: every endpoint is absent until listed again.
  void beginListing() {
    for (auto& [ref, endpoint] : endpoints_) endpoint.present = false;
    sources_.clear();
    destinations_.clear();
  }
  // Lists the endpoint, present, after those listed before it.
  void list(Endpoint& endpoint) {
    endpoint.present = true;
    (endpoint.isSource ? sources_ : destinations_).push_back(endpoint.ref);
  }

  const std::vector<MIDIEndpointRef>& sources() const { return sources_; }
  const std::vector<MIDIEndpointRef>& destinations() const { return destinations_; }
  // The listed endpoint at an index; 0 out of range.
  MIDIEndpointRef sourceAt(ItemCount index) const {
    return index < sources_.size() ? sources_[index] : 0;
  }
  MIDIEndpointRef destinationAt(ItemCount index) const {
    return index < destinations_.size() ? destinations_[index] : 0;
  }

  // Changes whenever the listing changes in what `describe` tells of each
  // listed endpoint, or in order.
  template <typename Describe>
  std::string signature(Describe describe) const {
    std::string result;
    for (const auto* listed : {&sources_, &destinations_}) {
      for (MIDIEndpointRef ref : *listed) {
        result += std::to_string(ref) + describe(endpoints_.at(ref)) + '\n';
      }
      result += '|';
    }
    return result;
  }

 private:
  std::function<MIDIObjectRef()> newRef_;
  std::map<MIDIEndpointRef, Endpoint> endpoints_;
  std::map<std::pair<bool, std::string>, MIDIEndpointRef> refsByKey_;
  std::vector<MIDIEndpointRef> sources_;
  std::vector<MIDIEndpointRef> destinations_;
};

}  // namespace wex
