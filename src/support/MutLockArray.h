#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <utility>
#include <vector>

namespace wex {

// An ordered list of shared objects guarded by a reader-writer lock.
// Changes take the write lock for one operation each; walks hold the read lock
// for the whole walk through a ReadGuard (readLocked()).
template <class T>
class MutLockArray {
 public:
  using Element = std::shared_ptr<T>;

  size_t count() const {
    std::shared_lock lock(mutex_);
    return array_.size();
  }

  // The element at the index, or null for an index outside the list.
  Element lockObjectAtIndex(size_t index) const {
    std::shared_lock lock(mutex_);
    return index < array_.size() ? array_[index] : nullptr;
  }

  void lockAddObject(Element object) {
    std::unique_lock lock(mutex_);
    array_.push_back(std::move(object));
  }

  // Empties the list under its lock. The elements are released after the lock
  // is let go, so their teardown never runs while the list is locked.
  void lockRemoveAllObjects() { (void)lockTakeAllObjects(); }
  // Empties the list under its lock and hands its elements over.
  [[nodiscard]] std::vector<Element> lockTakeAllObjects() {
    std::vector<Element> removed;
    std::unique_lock lock(mutex_);
    removed.swap(array_);
    return removed;
  }

  // The read lock, held from construction to destruction, and the contents
  // it guards.
  class ReadGuard {
   public:
    explicit ReadGuard(const MutLockArray& list) : list_(list), lock_(list.mutex_) {}
    const std::vector<Element>& array() const { return list_.array_; }
    auto begin() const { return list_.array_.begin(); }
    auto end() const { return list_.array_.end(); }

   private:
    const MutLockArray& list_;
    std::shared_lock<std::shared_mutex> lock_;
  };

  // Holds the read lock until the guard goes: `for (auto& e : list.readLocked())`.
  ReadGuard readLocked() const { return ReadGuard(*this); }

  // Calls selector on every element, in order, with object, under the read lock.
  template <class Method, class Arg>
  void lockMakeObjectsPerformSelector(Method selector, const Arg& object) const {
    std::shared_lock lock(mutex_);
    for (const Element& element : array_) ((*element).*selector)(object);
  }

 private:
  mutable std::shared_mutex mutex_;
  std::vector<Element> array_;
};

}  // namespace wex
