// The property queries of the embedded services: names of clients, ports and
// endpoints, and the integer properties of endpoints (those that went away
// included).
#include "services/embedded/EmbeddedMIDIServices.h"

namespace wex {

OSStatus EmbeddedMIDIServices::MIDIObjectGetStringProperty(MIDIObjectRef obj,
                                                           const std::string& propertyID,
                                                           std::optional<std::string>* str) {
  if (auto status = fault("MIDIObjectGetStringProperty")) return *status;
  if (!str) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  const bool integerProperty = propertyID == kMIDIPropertyUniqueID ||
                               propertyID == kMIDIPropertyPhysical ||
                               propertyID == kMIDIPropertyOffline;
  const bool known =
      endpoints_.count(obj) || gone_.count(obj) || clients_.count(obj) || ports_.count(obj);
  if (!known) return kMIDIObjectNotFound;
  if (integerProperty) return kMIDIWrongPropertyType;
  if (propertyID != kMIDIPropertyName) return kMIDIUnknownProperty;
  if (auto e = endpoints_.find(obj); e != endpoints_.end()) {
    *str = e->second.name;
  } else if (auto g = gone_.find(obj); g != gone_.end()) {
    *str = g->second.name;
  } else if (auto c = clients_.find(obj); c != clients_.end()) {
    *str = c->second.name;
  } else {
    *str = ports_.at(obj).name;
  }
  return noErr;
}

OSStatus EmbeddedMIDIServices::MIDIObjectGetIntegerProperty(MIDIObjectRef obj,
                                                            const std::string& propertyID,
                                                            int32_t* outValue) {
  if (auto status = fault("MIDIObjectGetIntegerProperty")) return *status;
  if (!outValue) return kMIDINotPermitted;
  std::lock_guard lock(mutex_);
  const Endpoint* endpoint = nullptr;
  bool gone = false;
  if (auto e = endpoints_.find(obj); e != endpoints_.end()) {
    endpoint = &e->second;
  } else if (auto g = gone_.find(obj); g != gone_.end()) {
    endpoint = &g->second;
    gone = true;
  }
  if (!endpoint) {
    if (!clients_.count(obj) && !ports_.count(obj)) return kMIDIObjectNotFound;
    return propertyID == kMIDIPropertyName ? kMIDIWrongPropertyType : kMIDIUnknownProperty;
  }
  if (propertyID == kMIDIPropertyUniqueID) {
    *outValue = endpoint->uniqueID;
  } else if (propertyID == kMIDIPropertyPhysical) {
    *outValue = endpoint->owner == Owner::Device ? 1 : 0;
  } else if (propertyID == kMIDIPropertyOffline) {
    *outValue = gone ? 1 : 0;
  } else {
    return propertyID == kMIDIPropertyName ? kMIDIWrongPropertyType : kMIDIUnknownProperty;
  }
  return noErr;
}

}  // namespace wex
