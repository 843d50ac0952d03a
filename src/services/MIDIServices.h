#pragma once

#include <memory>
#include <optional>
#include <string>

#include "services/MIDITypes.h"

namespace wex {

// The contract between the MIDI core and the machine's MIDI services. Every
// operation returns a status, noErr (0) for success; out-values are written
// only on success. Every backend answers each misuse with the status listed
// at the operation (tests/conformance holds them to it); a backend may also
// fail an operation that is used rightly (kMIDINotPermitted when the server
// refuses a port, kMIDIServerStartErr when there are no services at all).
//
// What every backend guarantees:
// - Read callbacks for one port (or virtual destination) never overlap, arrive
//   in the order the lists were sent, and never run on the server's audio
//   thread (a reader thread may run at a realtime priority below it, so a
//   callback should return promptly and never wait for a slow lock).
// - MIDIClientDispose ends the client's ports, connections and virtual
//   endpoints, and returns only when none of the client's callbacks is running
//   any more (unless it is called from inside one of them).
// - Notification callbacks (kMIDIMsgSetupChanged) run on a thread of the
//   backend, never inside a call of the client's own.
// - An exception thrown by a callback ends at the backend (it is logged once
//   per client and counted); delivery goes on and disposal still returns.
// - An endpoint that has gone away (its device or program gone, or its
//   client disposed of) stays known for the life of the services: it is no
//   longer listed, kMIDIPropertyOffline is 1 and its other properties still
//   answer. MIDISend to it returns kMIDIUnknownEndpoint and sends nothing, so
//   that a sender can say what it could not send. Backends that recognise the
//   endpoint when it comes back (JACK and ALSA, by its port's name) give it the
//   same reference again, and what is sent from then on reaches it.
// - No callback is called while the backend holds a lock of its own, so every
//   operation may be called from inside a callback, except waitUntilDelivered
//   (which would wait for that very callback: it returns false on timeout).
class MIDIServices {
 public:
  virtual ~MIDIServices() = default;

  // Null outClient: kMIDINotPermitted.
  virtual OSStatus MIDIClientCreate(const std::string& name, MIDINotifyProc notifyProc,
                                    void* notifyRefCon, MIDIClientRef* outClient) = 0;
  // Unknown (or already disposed of) client: kMIDIInvalidClient.
  virtual OSStatus MIDIClientDispose(MIDIClientRef client) = 0;

  // Unknown client: kMIDIInvalidClient; null outPort: kMIDINotPermitted.
  virtual OSStatus MIDIInputPortCreate(MIDIClientRef client, const std::string& portName,
                                       MIDIReadProc readProc, void* refCon,
                                       MIDIPortRef* outPort) = 0;
  virtual OSStatus MIDIOutputPortCreate(MIDIClientRef client, const std::string& portName,
                                        MIDIPortRef* outPort) = 0;
  // Unknown port or an output port: kMIDIInvalidPort; unknown endpoint:
  // kMIDIUnknownEndpoint; a destination: kMIDIWrongEndpointType. Connecting
  // a connected source again is no error.
  virtual OSStatus MIDIPortConnectSource(MIDIPortRef port, MIDIEndpointRef source,
                                         void* connRefCon) = 0;
  // Unknown port or an output port: kMIDIInvalidPort; a source the port is
  // not connected to: kMIDINoConnection.
  virtual OSStatus MIDIPortDisconnectSource(MIDIPortRef port, MIDIEndpointRef source) = 0;

  // Unknown client: kMIDIInvalidClient; null out-pointer: kMIDINotPermitted.
  virtual OSStatus MIDIDestinationCreate(MIDIClientRef client, const std::string& name,
                                         MIDIReadProc readProc, void* refCon,
                                         MIDIEndpointRef* outDest) = 0;
  virtual OSStatus MIDISourceCreate(MIDIClientRef client, const std::string& name,
                                    MIDIEndpointRef* outSrc) = 0;

  // Endpoints, clients and ports have kMIDIPropertyName; endpoints also the
  // integer properties (kMIDIPropertyUniqueID, kMIDIPropertyPhysical,
  // kMIDIPropertyOffline). Status 0 with an empty optional means the object
  // has no such string. Null out-pointer: kMIDINotPermitted; unknown object:
  // kMIDIObjectNotFound; a property of the other type: kMIDIWrongPropertyType;
  // a property the object does not have: kMIDIUnknownProperty.
  virtual OSStatus MIDIObjectGetStringProperty(MIDIObjectRef obj, const std::string& propertyID,
                                               std::optional<std::string>* str) = 0;
  virtual OSStatus MIDIObjectGetIntegerProperty(MIDIObjectRef obj, const std::string& propertyID,
                                                int32_t* outValue) = 0;

  // Endpoints of the setup (other programs' and devices' as well as virtual
  // ones), in a stable order; a reference of 0 for an index out of range.
  virtual ItemCount MIDIGetNumberOfSources() = 0;
  virtual MIDIEndpointRef MIDIGetSource(ItemCount sourceIndex0) = 0;
  virtual ItemCount MIDIGetNumberOfDestinations() = 0;
  virtual MIDIEndpointRef MIDIGetDestination(ItemCount destIndex0) = 0;

  // The list goes to the destination now. Unknown port or an input port:
  // kMIDIInvalidPort; unknown endpoint: kMIDIUnknownEndpoint; a source:
  // kMIDIWrongEndpointType; null list (or one that cannot go out):
  // kMIDIMessageSendErr; a destination that has gone away:
  // kMIDIUnknownEndpoint, nothing sent.
  virtual OSStatus MIDISend(MIDIPortRef port, MIDIEndpointRef dest,
                            const MIDIPacketList* pktlist) = 0;
  // The list is published on the client's own virtual source now. Unknown
  // endpoint: kMIDIUnknownEndpoint; a destination: kMIDIWrongEndpointType; a
  // source that is no virtual source of these services: kMIDINotPermitted;
  // null list: kMIDIMessageSendErr.
  virtual OSStatus MIDIReceived(MIDIEndpointRef src, const MIDIPacketList* pktlist) = 0;

  // Blocks until everything sent so far has been delivered (or has left the
  // process), or until the timeout passes; false on timeout, and false when
  // the server went away since the services were opened or since the last
  // wait returned (what was sent meanwhile may be lost).
  virtual bool waitUntilDelivered(double timeoutSeconds) = 0;
  // How many times the server went away since the services were opened.
  virtual uint64_t serverLosses() { return 0; }

  // Whether the packets handed to read callbacks carry the time each one
  // arrived, in nanoseconds of std::chrono::steady_clock. Otherwise their
  // time stamps are whatever the sender wrote. Arrival times never go back,
  // and none is later than the read callback that hands it over by more than
  // a period of the server's cycle. On JACK an event's time is where its
  // frame falls in the cycle as the server's clock estimate places it, as
  // long as that cycle began no later than half a period after the process
  // callback ran and no earlier than a period before the callback of the
  // cycle before; otherwise (a server that stalled, or the dummy driver,
  // leaves the estimate off for seconds) the cycle is placed at the time its
  // process callback ran, lasting a period, and the log says so once.
  virtual bool stampsArrivalTimes() const { return false; }

  // Services that keep time (JACK) send each event at its own moment: a
  // packet stamped 0 goes out sendDelay() after the MIDISend or MIDIReceived
  // call that carried it, so that events keep the spacing of the calls; a
  // packet with a time stamp (nanoseconds of std::chrono::steady_clock) goes
  // out at that time, or as soon as it can when that has passed (and at most
  // a second after the call). Events go out in the order sent: one waits for
  // those before it. A sender that passes on an event that arrived at t
  // (stampsArrivalTimes) keeps its place with the stamp t + sendDelay().
  // Services that do not keep time send at once, and sendDelay() is 0.
  virtual MIDITimeStamp sendDelay() { return 0; }
};

// The process-wide current MIDI services. The program installs the backend it
// chose, and each test installs a fresh one; install while no client exists.
void installMIDIServices(std::shared_ptr<MIDIServices> services);
std::shared_ptr<MIDIServices> currentMIDIServicesShared();
// The current services; a process that installed none gets services that
// refuse every operation (kMIDIServerStartErr) and have no endpoints.
MIDIServices& currentMIDIServices();

// The contract's operations as free functions on the current services.
OSStatus MIDIClientCreate(const std::string& name, MIDINotifyProc notifyProc, void* notifyRefCon,
                          MIDIClientRef* outClient);
OSStatus MIDIClientDispose(MIDIClientRef client);
OSStatus MIDIInputPortCreate(MIDIClientRef client, const std::string& portName,
                             MIDIReadProc readProc, void* refCon, MIDIPortRef* outPort);
OSStatus MIDIOutputPortCreate(MIDIClientRef client, const std::string& portName,
                              MIDIPortRef* outPort);
OSStatus MIDIPortConnectSource(MIDIPortRef port, MIDIEndpointRef source, void* connRefCon);
OSStatus MIDIPortDisconnectSource(MIDIPortRef port, MIDIEndpointRef source);
OSStatus MIDIDestinationCreate(MIDIClientRef client, const std::string& name, MIDIReadProc readProc,
                               void* refCon, MIDIEndpointRef* outDest);
OSStatus MIDISourceCreate(MIDIClientRef client, const std::string& name, MIDIEndpointRef* outSrc);
OSStatus MIDIObjectGetStringProperty(MIDIObjectRef obj, const std::string& propertyID,
                                     std::optional<std::string>* str);
OSStatus MIDIObjectGetIntegerProperty(MIDIObjectRef obj, const std::string& propertyID,
                                      int32_t* outValue);
ItemCount MIDIGetNumberOfSources();
MIDIEndpointRef MIDIGetSource(ItemCount sourceIndex0);
ItemCount MIDIGetNumberOfDestinations();
MIDIEndpointRef MIDIGetDestination(ItemCount destIndex0);
OSStatus MIDISend(MIDIPortRef port, MIDIEndpointRef dest, const MIDIPacketList* pktlist);
OSStatus MIDIReceived(MIDIEndpointRef src, const MIDIPacketList* pktlist);

}  // namespace wex
