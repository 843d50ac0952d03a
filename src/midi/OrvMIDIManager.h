#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "midi/OrvMIDIDelegateProtocol.h"
#include "midi/OrvMIDINode.h"
#include "midi/OrvMIDISnapshot.h"
#include "support/MainThread.h"
#include "support/MutLockArray.h"

namespace wex {

// Keeps the machine's MIDI endpoints as two lists of nodes, one receiver per
// source and one sender per destination; passes received messages and setup
// changes on to its delegate; sends to every destination; can publish a pair
// of virtual endpoints of its own; saves and restores the nodes' enabled
// flags as snapshots. Lists are rebuilt on the main thread only.
//
// Make managers with create<T>(): it runs generalInit() once the object is
// complete, so that a subclass's hooks take part in the first load, and it
// tears the manager down before any destructor runs, so that no callback
// reaches a half-destroyed object.
class OrvMIDIManager : public OrvMIDIDelegateProtocol {
 public:
  template <class T = OrvMIDIManager, class... Args>
  static std::shared_ptr<T> create(Args&&... args) {
    std::shared_ptr<T> manager(new T(std::forward<Args>(args)...), [](T* doomed) {
      doomed->tearDown();
      delete doomed;
    });
    manager->generalInit();
    return manager;
  }

  OrvMIDIManager();
  ~OrvMIDIManager() override;
  OrvMIDIManager(const OrvMIDIManager&) = delete;
  OrvMIDIManager& operator=(const OrvMIDIManager&) = delete;

  // Empty lists, no delegate, the virtual nodes, then a first setupChanged.
  void generalInit();

  // Hooks. The node factories stand for the classes nodes are made of.
  virtual std::shared_ptr<OrvMIDINode> makeReceivingNode(MIDIEndpointRef source);
  virtual std::shared_ptr<OrvMIDINode> makeSendingNode(MIDIEndpointRef destination);
  virtual std::shared_ptr<OrvMIDINode> makeReceivingVirtualNode(const std::string& name);
  virtual std::shared_ptr<OrvMIDINode> makeSendingVirtualNode(const std::string& name);
  virtual std::string receivingNodeName() const { return "To OrvMIDI"; }
  virtual std::string sendingNodeName() const { return "From OrvMIDI"; }
  virtual void createVirtualNodes();

  MutLockArray<OrvMIDINode>& sourceArray() { return sourceArray_; }
  MutLockArray<OrvMIDINode>& destArray() { return destArray_; }
  const MutLockArray<OrvMIDINode>& sourceArray() const { return sourceArray_; }
  const MutLockArray<OrvMIDINode>& destArray() const { return destArray_; }
  std::shared_ptr<OrvMIDINode> virtualSource() const;
  std::shared_ptr<OrvMIDINode> virtualDest() const;

  // The first node whose name is exactly `name`; null for an empty name.
  std::shared_ptr<OrvMIDINode> findSourceNodeNamed(const std::string& name) const;
  std::shared_ptr<OrvMIDINode> findDestNodeNamed(const std::string& name) const;
  // Names of the destination nodes in list order; unnamed nodes left out.
  std::vector<std::string> destNodeNameArray() const;

  // Rebuild one list on the main thread; from another thread the call waits
  // until the main thread has done it, or until the manager's teardown has
  // begun (then the list is not rebuilt).
  void loadMIDIInputSources();
  void loadMIDIOutputDestinations();

  // The setup changed: reload both lists and tell the delegate (only while
  // both virtual nodes exist).
  void setupChanged() override;
  void receivedMIDI(const OrvMIDIMessageList& messages) override;

  void sendMsg(const OrvMIDIMessagePtr& msg);
  // Sends a message that arrived at `arrival` (0: none known) so that it
  // keeps its place (OrvMIDINode::sendMsgArrivedAt).
  void sendMsgArrivedAt(const OrvMIDIMessagePtr& msg, MIDITimeStamp arrival);
  void sendMsgs(const OrvMIDIMessageList& msgs);
  // Every destination node sends note offs for the notes it left sounding.
  void releaseSoundingNotes();

  virtual OrvMIDISnapshot createSnapshot() const;
  // A null snapshot changes nothing.
  virtual void loadSnapshot(const OrvMIDISnapshot* snapshot);

  OrvMIDIDelegateProtocol* delegate() const { return delegate_.load(); }
  void setDelegate(OrvMIDIDelegateProtocol* delegate) { delegate_.store(delegate); }

  // The owner name current when the manager was made: in a composition, the
  // id of the patch that owns it.
  const std::string& ownerName() const { return ownerName_; }

 protected:
  // Flags of a list's named nodes, in list order (a later name wins).
  static OrvMIDISnapshotFlags flagsOf(const MutLockArray<OrvMIDINode>& list);
  static void applyFlags(const MutLockArray<OrvMIDINode>& list, const OrvMIDISnapshotFlags& flags);
  // True once teardown has begun: nothing is reloaded any more.
  bool tornDown() const { return tornDown_.load(); }

 private:
  // Stops reloads, clears the delegate of the manager and of its nodes, and
  // releases the lists and then the virtual nodes.
  void tearDown();
  void loadList(MutLockArray<OrvMIDINode>& list, bool sources);
  // The notes the sender nodes left sounding, by destination name.
  static std::map<std::string, SoundingNotes> takeSoundingNotes(
      const std::vector<std::shared_ptr<OrvMIDINode>>& nodes);
  static std::shared_ptr<OrvMIDINode> findNodeNamed(const MutLockArray<OrvMIDINode>& list,
                                                    const std::string& name);

  MutLockArray<OrvMIDINode> sourceArray_;
  MutLockArray<OrvMIDINode> destArray_;
  mutable std::mutex virtualNodesMutex_;  // guards the two fields below
  std::shared_ptr<OrvMIDINode> virtualSource_;
  std::shared_ptr<OrvMIDINode> virtualDest_;
  std::atomic<OrvMIDIDelegateProtocol*> delegate_{nullptr};
  std::atomic<bool> tornDown_{false};
  // Cancelled as teardown begins: a setup change waiting on a services
  // thread for the main thread to rebuild a list stops waiting, so that the
  // main thread may release the manager, whose nodes' disposal waits for
  // that very notification to end.
  const std::shared_ptr<MainThread::Cancellation> mainThreadWaits_ =
      std::make_shared<MainThread::Cancellation>();
  // The owner name current when the manager was made (its patch's id): every
  // node is made under it, in later rebuilds too.
  const std::string ownerName_;
};

}  // namespace wex
