#include "midi/OrvMIDIManager.h"

#include "services/MIDIServices.h"
#include "support/MainThread.h"
#include "support/OwnerName.h"

namespace wex {

OrvMIDIManager::OrvMIDIManager() : ownerName_(OwnerName::current()) {}

OrvMIDIManager::~OrvMIDIManager() {
  tearDown();
}

void OrvMIDIManager::generalInit() {
  sourceArray_.lockRemoveAllObjects();
  destArray_.lockRemoveAllObjects();
  delegate_.store(nullptr);
  {
    std::lock_guard lock(virtualNodesMutex_);
    virtualSource_.reset();
    virtualDest_.reset();
  }
  createVirtualNodes();
  setupChanged();
}

// Runs once; the destructor calls it again for managers not made by create().
void OrvMIDIManager::tearDown() {
  if (tornDown_.exchange(true)) return;
  delegate_.store(nullptr);
  mainThreadWaits_->cancel();
  // A node kept by someone else must not call back into a manager that is gone.
  for (auto* list : {&sourceArray_, &destArray_}) {
    for (const auto& node : list->readLocked()) node->setDelegate(nullptr);
    list->lockRemoveAllObjects();
  }
  std::shared_ptr<OrvMIDINode> source, dest;
  {
    std::lock_guard lock(virtualNodesMutex_);
    source = std::move(virtualSource_);
    dest = std::move(virtualDest_);
  }
  if (source) source->setDelegate(nullptr);
  if (dest) dest->setDelegate(nullptr);
  source.reset();
  dest.reset();
}

std::shared_ptr<OrvMIDINode> OrvMIDIManager::makeReceivingNode(MIDIEndpointRef source) {
  return OrvMIDINode::initReceiverWithEndpoint(source);
}

std::shared_ptr<OrvMIDINode> OrvMIDIManager::makeSendingNode(MIDIEndpointRef destination) {
  return OrvMIDINode::initSenderWithEndpoint(destination);
}

std::shared_ptr<OrvMIDINode> OrvMIDIManager::makeReceivingVirtualNode(const std::string& name) {
  return OrvMIDINode::initReceiverWithName(name);
}

std::shared_ptr<OrvMIDINode> OrvMIDIManager::makeSendingVirtualNode(const std::string& name) {
  return OrvMIDINode::initSenderWithName(name);
}

void OrvMIDIManager::createVirtualNodes() {
  OwnerName::Scope owner(ownerName_);
  std::shared_ptr<OrvMIDINode> old;
  {
    std::lock_guard lock(virtualNodesMutex_);
    old = std::move(virtualSource_);
  }
  old.reset();
  auto source = makeReceivingVirtualNode(receivingNodeName());
  if (source) source->setDelegate(this);
  {
    std::lock_guard lock(virtualNodesMutex_);
    virtualSource_ = source;
    old = std::move(virtualDest_);
  }
  old.reset();
  auto dest = makeSendingVirtualNode(sendingNodeName());
  if (dest) dest->setDelegate(this);
  std::lock_guard lock(virtualNodesMutex_);
  virtualDest_ = dest;
}

std::shared_ptr<OrvMIDINode> OrvMIDIManager::virtualSource() const {
  std::lock_guard lock(virtualNodesMutex_);
  return virtualSource_;
}

std::shared_ptr<OrvMIDINode> OrvMIDIManager::virtualDest() const {
  std::lock_guard lock(virtualNodesMutex_);
  return virtualDest_;
}

std::shared_ptr<OrvMIDINode> OrvMIDIManager::findNodeNamed(const MutLockArray<OrvMIDINode>& list,
                                                           const std::string& name) {
  if (name.empty()) return nullptr;
  std::shared_ptr<OrvMIDINode> found;
  for (const auto& node : list.readLocked()) {
    if (node->name() == name) {
      found = node;
      break;
    }
  }
  return found;
}

std::shared_ptr<OrvMIDINode> OrvMIDIManager::findSourceNodeNamed(const std::string& name) const {
  return findNodeNamed(sourceArray_, name);
}

std::shared_ptr<OrvMIDINode> OrvMIDIManager::findDestNodeNamed(const std::string& name) const {
  return findNodeNamed(destArray_, name);
}

std::vector<std::string> OrvMIDIManager::destNodeNameArray() const {
  std::vector<std::string> names;
  for (const auto& node : destArray_.readLocked()) {
    if (node->name()) names.push_back(*node->name());
  }
  return names;
}

void OrvMIDIManager::loadMIDIInputSources() {
  if (!isMainThread()) {
    MainThread::performOnMainThreadAndWait([this] { loadMIDIInputSources(); }, mainThreadWaits_);
    return;
  }
  loadList(sourceArray_, true);
}

void OrvMIDIManager::loadMIDIOutputDestinations() {
  if (!isMainThread()) {
    MainThread::performOnMainThreadAndWait([this] { loadMIDIOutputDestinations(); },
                                           mainThreadWaits_);
    return;
  }
  loadList(destArray_, false);
}

std::map<std::string, SoundingNotes> OrvMIDIManager::takeSoundingNotes(
    const std::vector<std::shared_ptr<OrvMIDINode>>& nodes) {
  std::map<std::string, SoundingNotes> sounding;
  for (const auto& node : nodes) {
    if (!node->sender() || !node->name()) continue;
    SoundingNotes notes = node->takeSoundingNotes();
    if (!notes.empty()) sounding[*node->name()].add(notes);
  }
  return sounding;
}

// Rebuilds the list from nothing: one new node per endpoint, leaving out the
// manager's own virtual endpoints (known by the hook names).
void OrvMIDIManager::loadList(MutLockArray<OrvMIDINode>& list, bool sources) {
  if (tornDown()) return;
  OwnerName::Scope owner(ownerName_);
  // Out of the list, the old nodes get no more sends: what they left sounding
  // goes to the new nodes of their destinations, to be released later.
  const auto sounding = takeSoundingNotes(list.lockTakeAllObjects());
  const std::string ownName = sources ? sendingNodeName() : receivingNodeName();
  const ItemCount count = sources ? MIDIGetNumberOfSources() : MIDIGetNumberOfDestinations();
  for (ItemCount i = 0; i < count; ++i) {
    const MIDIEndpointRef endpoint = sources ? MIDIGetSource(i) : MIDIGetDestination(i);
    auto node = sources ? makeReceivingNode(endpoint) : makeSendingNode(endpoint);
    if (!node || node->name() == ownName) continue;
    node->setDelegate(this);
    if (node->name()) {
      const auto carried = sounding.find(*node->name());
      if (carried != sounding.end()) node->addSoundingNotes(carried->second);
    }
    list.lockAddObject(std::move(node));
  }
}

void OrvMIDIManager::setupChanged() {
  if (!virtualSource() || !virtualDest()) return;
  loadMIDIInputSources();
  loadMIDIOutputDestinations();
  if (OrvMIDIDelegateProtocol* delegate = delegate_.load()) delegate->setupChanged();
}

void OrvMIDIManager::receivedMIDI(const OrvMIDIMessageList& messages) {
  if (OrvMIDIDelegateProtocol* delegate = delegate_.load()) delegate->receivedMIDI(messages);
}

void OrvMIDIManager::sendMsg(const OrvMIDIMessagePtr& msg) {
  if (!msg) return;
  destArray_.lockMakeObjectsPerformSelector(&OrvMIDINode::sendMsg, msg);
  if (auto dest = virtualDest()) dest->sendMsg(msg);
}

void OrvMIDIManager::sendMsgArrivedAt(const OrvMIDIMessagePtr& msg, MIDITimeStamp arrival) {
  if (!msg) return;
  if (arrival == 0) {
    sendMsg(msg);
    return;
  }
  for (const auto& node : destArray_.readLocked()) node->sendMsgArrivedAt(msg, arrival);
  if (auto dest = virtualDest()) dest->sendMsgArrivedAt(msg, arrival);
}

void OrvMIDIManager::sendMsgs(const OrvMIDIMessageList& msgs) {
  if (msgs.empty()) return;
  destArray_.lockMakeObjectsPerformSelector(&OrvMIDINode::sendMsgs, msgs);
  if (auto dest = virtualDest()) dest->sendMsgs(msgs);
}

void OrvMIDIManager::releaseSoundingNotes() {
  for (const auto& node : destArray_.readLocked()) node->releaseSoundingNotes();
  if (auto dest = virtualDest()) dest->releaseSoundingNotes();
}

OrvMIDISnapshotFlags OrvMIDIManager::flagsOf(const MutLockArray<OrvMIDINode>& list) {
  OrvMIDISnapshotFlags flags;
  for (const auto& node : list.readLocked()) {
    if (node->name()) flags[*node->name()] = node->enabled();
  }
  return flags;
}

void OrvMIDIManager::applyFlags(const MutLockArray<OrvMIDINode>& list,
                                const OrvMIDISnapshotFlags& flags) {
  for (const auto& node : list.readLocked()) {
    if (!node->name()) continue;
    auto it = flags.find(*node->name());
    if (it != flags.end()) node->setEnabled(it->second);
  }
}

OrvMIDISnapshot OrvMIDIManager::createSnapshot() const {
  return {{kOrvMIDISnapshotSources, flagsOf(sourceArray_)},
          {kOrvMIDISnapshotDestinations, flagsOf(destArray_)}};
}

void OrvMIDIManager::loadSnapshot(const OrvMIDISnapshot* snapshot) {
  if (!snapshot) return;
  if (auto src = snapshot->find(kOrvMIDISnapshotSources); src != snapshot->end()) {
    applyFlags(sourceArray_, src->second);
  }
  if (auto dst = snapshot->find(kOrvMIDISnapshotDestinations); dst != snapshot->end()) {
    applyFlags(destArray_, dst->second);
  }
}

}  // namespace wex
