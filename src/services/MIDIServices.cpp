#include "services/MIDIServices.h"

#include <atomic>
#include <mutex>

namespace wex {

namespace {

// Stands in until a backend is installed: every operation fails.
class NoMIDIServices final : public MIDIServices {
 public:
  OSStatus MIDIClientCreate(const std::string&, MIDINotifyProc, void*, MIDIClientRef*) override {
    return kMIDIServerStartErr;
  }
  OSStatus MIDIClientDispose(MIDIClientRef) override { return kMIDIInvalidClient; }
  OSStatus MIDIInputPortCreate(MIDIClientRef, const std::string&, MIDIReadProc, void*,
                               MIDIPortRef*) override {
    return kMIDIInvalidClient;
  }
  OSStatus MIDIOutputPortCreate(MIDIClientRef, const std::string&, MIDIPortRef*) override {
    return kMIDIInvalidClient;
  }
  OSStatus MIDIPortConnectSource(MIDIPortRef, MIDIEndpointRef, void*) override {
    return kMIDIInvalidPort;
  }
  OSStatus MIDIPortDisconnectSource(MIDIPortRef, MIDIEndpointRef) override {
    return kMIDIInvalidPort;
  }
  OSStatus MIDIDestinationCreate(MIDIClientRef, const std::string&, MIDIReadProc, void*,
                                 MIDIEndpointRef*) override {
    return kMIDIInvalidClient;
  }
  OSStatus MIDISourceCreate(MIDIClientRef, const std::string&, MIDIEndpointRef*) override {
    return kMIDIInvalidClient;
  }
  OSStatus MIDIObjectGetStringProperty(MIDIObjectRef, const std::string&,
                                       std::optional<std::string>*) override {
    return kMIDIObjectNotFound;
  }
  OSStatus MIDIObjectGetIntegerProperty(MIDIObjectRef, const std::string&, int32_t*) override {
    return kMIDIObjectNotFound;
  }
  ItemCount MIDIGetNumberOfSources() override { return 0; }
  MIDIEndpointRef MIDIGetSource(ItemCount) override { return 0; }
  ItemCount MIDIGetNumberOfDestinations() override { return 0; }
  MIDIEndpointRef MIDIGetDestination(ItemCount) override { return 0; }
  OSStatus MIDISend(MIDIPortRef, MIDIEndpointRef, const MIDIPacketList*) override {
    return kMIDIInvalidPort;
  }
  OSStatus MIDIReceived(MIDIEndpointRef, const MIDIPacketList*) override {
    return kMIDIUnknownEndpoint;
  }
  bool waitUntilDelivered(double) override { return true; }
};

std::mutex gInstallMutex;
std::shared_ptr<MIDIServices> gInstalled;
std::atomic<MIDIServices*> gCurrent{nullptr};

}  // namespace

void installMIDIServices(std::shared_ptr<MIDIServices> services) {
  std::lock_guard lock(gInstallMutex);
  gCurrent.store(services.get(), std::memory_order_release);
  gInstalled = std::move(services);
}

std::shared_ptr<MIDIServices> currentMIDIServicesShared() {
  std::lock_guard lock(gInstallMutex);
  return gInstalled;
}

MIDIServices& currentMIDIServices() {
  static NoMIDIServices none;
  MIDIServices* current = gCurrent.load(std::memory_order_acquire);
  return current ? *current : none;
}

OSStatus MIDIClientCreate(const std::string& name, MIDINotifyProc notifyProc, void* notifyRefCon,
                          MIDIClientRef* outClient) {
  return currentMIDIServices().MIDIClientCreate(name, notifyProc, notifyRefCon, outClient);
}
OSStatus MIDIClientDispose(MIDIClientRef client) {
  return currentMIDIServices().MIDIClientDispose(client);
}
OSStatus MIDIInputPortCreate(MIDIClientRef client, const std::string& portName,
                             MIDIReadProc readProc, void* refCon, MIDIPortRef* outPort) {
  return currentMIDIServices().MIDIInputPortCreate(client, portName, readProc, refCon, outPort);
}
OSStatus MIDIOutputPortCreate(MIDIClientRef client, const std::string& portName,
                              MIDIPortRef* outPort) {
  return currentMIDIServices().MIDIOutputPortCreate(client, portName, outPort);
}
OSStatus MIDIPortConnectSource(MIDIPortRef port, MIDIEndpointRef source, void* connRefCon) {
  return currentMIDIServices().MIDIPortConnectSource(port, source, connRefCon);
}
OSStatus MIDIPortDisconnectSource(MIDIPortRef port, MIDIEndpointRef source) {
  return currentMIDIServices().MIDIPortDisconnectSource(port, source);
}
OSStatus MIDIDestinationCreate(MIDIClientRef client, const std::string& name, MIDIReadProc readProc,
                               void* refCon, MIDIEndpointRef* outDest) {
  return currentMIDIServices().MIDIDestinationCreate(client, name, readProc, refCon, outDest);
}
OSStatus MIDISourceCreate(MIDIClientRef client, const std::string& name, MIDIEndpointRef* outSrc) {
  return currentMIDIServices().MIDISourceCreate(client, name, outSrc);
}
OSStatus MIDIObjectGetStringProperty(MIDIObjectRef obj, const std::string& propertyID,
                                     std::optional<std::string>* str) {
  return currentMIDIServices().MIDIObjectGetStringProperty(obj, propertyID, str);
}
OSStatus MIDIObjectGetIntegerProperty(MIDIObjectRef obj, const std::string& propertyID,
                                      int32_t* outValue) {
  return currentMIDIServices().MIDIObjectGetIntegerProperty(obj, propertyID, outValue);
}
ItemCount MIDIGetNumberOfSources() {
  return currentMIDIServices().MIDIGetNumberOfSources();
}
MIDIEndpointRef MIDIGetSource(ItemCount sourceIndex0) {
  return currentMIDIServices().MIDIGetSource(sourceIndex0);
}
ItemCount MIDIGetNumberOfDestinations() {
  return currentMIDIServices().MIDIGetNumberOfDestinations();
}
MIDIEndpointRef MIDIGetDestination(ItemCount destIndex0) {
  return currentMIDIServices().MIDIGetDestination(destIndex0);
}
OSStatus MIDISend(MIDIPortRef port, MIDIEndpointRef dest, const MIDIPacketList* pktlist) {
  return currentMIDIServices().MIDISend(port, dest, pktlist);
}
OSStatus MIDIReceived(MIDIEndpointRef src, const MIDIPacketList* pktlist) {
  return currentMIDIServices().MIDIReceived(src, pktlist);
}

}  // namespace wex
