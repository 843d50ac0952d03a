#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "services/MIDIServices.h"
#include "services/embedded/EmbeddedCallbackQueue.h"
#include "services/embedded/EmbeddedDeviceRecording.h"
#include "services/embedded/EmbeddedFaultInjector.h"

namespace wex {

// MIDI services inside the process: clients, ports, connections, virtual
// endpoints, device endpoints that the program or a test makes, and a loopback
// bus. Packet lists are copied when sent and delivered on a delivery thread of
// these services, in order; setup-changed notifications come on a thread of
// their own. No callback is ever called while the services' lock is held.
class EmbeddedMIDIServices final : public MIDIServices {
 public:
  static constexpr const char* kLoopbackName = "wexmidi Loopback";

  // With the loopback bus: one destination and one source named kLoopbackName;
  // what is sent to the destination comes out of the source.
  explicit EmbeddedMIDIServices(bool withLoopbackBus = true);
  ~EmbeddedMIDIServices() override;

  OSStatus MIDIClientCreate(const std::string& name, MIDINotifyProc notifyProc, void* notifyRefCon,
                            MIDIClientRef* outClient) override;
  OSStatus MIDIClientDispose(MIDIClientRef client) override;
  OSStatus MIDIInputPortCreate(MIDIClientRef client, const std::string& portName,
                               MIDIReadProc readProc, void* refCon, MIDIPortRef* outPort) override;
  OSStatus MIDIOutputPortCreate(MIDIClientRef client, const std::string& portName,
                                MIDIPortRef* outPort) override;
  OSStatus MIDIPortConnectSource(MIDIPortRef port, MIDIEndpointRef source,
                                 void* connRefCon) override;
  OSStatus MIDIPortDisconnectSource(MIDIPortRef port, MIDIEndpointRef source) override;
  OSStatus MIDIDestinationCreate(MIDIClientRef client, const std::string& name,
                                 MIDIReadProc readProc, void* refCon,
                                 MIDIEndpointRef* outDest) override;
  OSStatus MIDISourceCreate(MIDIClientRef client, const std::string& name,
                            MIDIEndpointRef* outSrc) override;
  OSStatus MIDIObjectGetStringProperty(MIDIObjectRef obj, const std::string& propertyID,
                                       std::optional<std::string>* str) override;
  OSStatus MIDIObjectGetIntegerProperty(MIDIObjectRef obj, const std::string& propertyID,
                                        int32_t* outValue) override;
  ItemCount MIDIGetNumberOfSources() override;
  MIDIEndpointRef MIDIGetSource(ItemCount sourceIndex0) override;
  ItemCount MIDIGetNumberOfDestinations() override;
  MIDIEndpointRef MIDIGetDestination(ItemCount destIndex0) override;
  OSStatus MIDISend(MIDIPortRef port, MIDIEndpointRef dest, const MIDIPacketList* pktlist) override;
  OSStatus MIDIReceived(MIDIEndpointRef src, const MIDIPacketList* pktlist) override;
  bool waitUntilDelivered(double timeoutSeconds) override;

  // Waits until every setup-changed notification due so far has been handed
  // out; false on timeout.
  bool waitUntilNotified(double timeoutSeconds);

  // Device endpoints: a source fed by the caller, a destination that records.
  // An endpoint made without a name has no name property.
  MIDIEndpointRef createDeviceSource(const std::optional<std::string>& name);
  MIDIEndpointRef createDeviceDestination(const std::optional<std::string>& name);
  OSStatus removeDevice(MIDIEndpointRef device);
  // Sends the list (or the bytes, as packets at `time`) out of a device source.
  OSStatus feedSource(MIDIEndpointRef source, const MIDIPacketList* pktlist);
  OSStatus feedSourceBytes(MIDIEndpointRef source, const std::vector<Byte>& bytes,
                           MIDITimeStamp time = 0);
  // The recording of a device destination; null for any other reference.
  std::shared_ptr<EmbeddedDeviceRecording> recording(MIDIEndpointRef destination);

  MIDIEndpointRef loopbackSource() const { return loopbackSource_; }
  MIDIEndpointRef loopbackDestination() const { return loopbackDestination_; }

  EmbeddedFaultInjector& faults() { return faults_; }

  size_t clientCount();
  // Names of the clients in creation order.
  std::vector<std::string> clientNames();
  size_t portCount();
  size_t connectionCount();

 private:
  enum class Owner { Client, Device, Loopback };

  struct Client {
    std::string name;
    MIDINotifyProc notifyProc = nullptr;
    void* notifyRefCon = nullptr;
  };
  struct Port {
    MIDIClientRef client = 0;
    std::string name;
    bool input = false;
    MIDIReadProc readProc = nullptr;
    void* refCon = nullptr;
    std::map<MIDIEndpointRef, void*> connections;  // source -> connection refCon
  };
  struct Endpoint {
    bool source = false;
    Owner owner = Owner::Client;
    MIDIClientRef client = 0;
    std::optional<std::string> name;
    int32_t uniqueID = 0;
    MIDIReadProc readProc = nullptr;  // client destinations
    void* refCon = nullptr;
    std::shared_ptr<EmbeddedDeviceRecording> recording;  // device destinations
  };
  using SharedBytes = std::shared_ptr<const std::vector<Byte>>;

  std::optional<OSStatus> fault(const char* operation) { return faults_.take(operation); }
  MIDIEndpointRef addEndpointLocked(bool source, Owner owner,
                                    const std::optional<std::string>& name,
                                    MIDIClientRef client = 0, MIDIReadProc readProc = nullptr,
                                    void* refCon = nullptr);
  void removeEndpointLocked(MIDIEndpointRef ref);
  void notifySetupChangedLocked();
  void deliverNotification(MIDIClientRef client);
  void publishLocked(MIDIEndpointRef source, const SharedBytes& bytes);
  void deliverToDestinationLocked(const Endpoint& destination, const SharedBytes& bytes);
  OSStatus createEndpoint(MIDIClientRef client, const std::string& name, bool source,
                          MIDIReadProc readProc, void* refCon, MIDIEndpointRef* outRef);

  EmbeddedFaultInjector faults_;
  std::mutex mutex_;
  std::map<MIDIClientRef, Client> clients_;
  std::map<MIDIPortRef, Port> ports_;
  std::map<MIDIEndpointRef, Endpoint> endpoints_;
  // Endpoints that went away (device removed, client disposed of): offline,
  // no longer listed, with their properties; what is sent to them is dropped.
  std::map<MIDIEndpointRef, Endpoint> gone_;
  std::vector<MIDIEndpointRef> sources_;       // creation order
  std::vector<MIDIEndpointRef> destinations_;  // creation order
  std::set<MIDIClientRef> notificationPending_;
  MIDIEndpointRef loopbackSource_ = 0;
  MIDIEndpointRef loopbackDestination_ = 0;
  // Declared last: their threads stop first, before the state above goes.
  EmbeddedCallbackQueue notifications_;
  EmbeddedCallbackQueue delivery_;
};

}  // namespace wex
