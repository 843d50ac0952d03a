#pragma once

#include <map>
#include <string>

namespace wex {

// The enabled flags of a manager's nodes by endpoint name: under "src" for the
// sources, under "dst" for the destinations. Plain maps, so that the snapshot
// can be stored as JSON as it stands.
using OrvMIDISnapshotFlags = std::map<std::string, bool>;
using OrvMIDISnapshot = std::map<std::string, OrvMIDISnapshotFlags>;

constexpr const char* kOrvMIDISnapshotSources = "src";
constexpr const char* kOrvMIDISnapshotDestinations = "dst";

}  // namespace wex
