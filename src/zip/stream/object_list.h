// The engine's lists of object pointers: TObjectList (growable, optionally owning its items) and
// TSortedObjectList (kept ordered by a comparison that a subclass supplies, with a duplicate policy).
//
// Ownership: a list owns its items from construction; FreeAll and the destructor delete them then. A list
// whose OwnsItems is cleared only holds references (sorted views of another list). Clear forgets the items
// without deleting them.
//
// The sorted list's binary search fixes where items land, and so the order of archive entries: with policy
// kAccept an equal item is inserted in front of all items with an equal key (Search continues to the left
// and reports the first of them); with kIgnore and kError the search stops at the first equal item it meets.
// kIgnore leaves a duplicate with the caller (Add returns -1), kError raises "Duplicate Object index" and
// leaves the list unchanged.
//
// Capacity grows by 4, 8, 16, then by a quarter of itself (at least 16): 4, 8, 16, 32, 48, 64, 80, 100, ...
// so small lists stay small and large directories are not quadratic to build.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <typeinfo>
#include <vector>

#include "zip/zip_errors.h"

namespace kzb::zip {

namespace detail {
// "List index out of bounds (%d)" and friends, formatted.
[[noreturn]] void ThrowListIndexError(std::int64_t index);
[[noreturn]] void ThrowNotInList(const std::type_info& type);
[[noreturn]] void ThrowSortedPut();
[[noreturn]] void ThrowDuplicate();
}  // namespace detail

template <typename T>
class TObjectList {
 public:
  // Largest count and capacity a list accepts.
  static constexpr std::int64_t kMaxListSize = 0x1FFFFFFE;

  TObjectList() = default;
  virtual ~TObjectList() {
    FreeAll();
    Clear();
  }
  TObjectList(const TObjectList&) = delete;
  TObjectList& operator=(const TObjectList&) = delete;

  bool OwnsItems() const { return owns_items_; }
  void SetOwnsItems(bool owns) { owns_items_ = owns; }
  std::int64_t Count() const { return count_; }
  std::int64_t Capacity() const { return static_cast<std::int64_t>(items_.size()); }

  // 0 <= index < Count, else "List index out of bounds (%d)".
  T* Get(std::int64_t index) const {
    if (index < 0 || index >= count_) IndexError(index);
    return items_[static_cast<std::size_t>(index)];
  }
  T* operator[](std::int64_t index) const { return Get(index); }
  // Replaces the reference at index (the old item is not freed).
  virtual void Put(std::int64_t index, T* item) {
    if (index < 0 || index >= count_) IndexError(index);
    items_[static_cast<std::size_t>(index)] = item;
  }
  // Appends; returns the new index.
  virtual std::int64_t Add(T* item) {
    Insert(count_, item);
    return count_ - 1;
  }
  // 0 <= index <= Count; the items from index move up by one.
  virtual void Insert(std::int64_t index, T* item) { InsertAt(index, item); }
  // Index of that very object (from the start), or -1.
  virtual std::int64_t IndexOf(const T* item) const {
    for (std::int64_t i = 0; i < count_; ++i) {
      if (items_[static_cast<std::size_t>(i)] == item) return i;
    }
    return -1;
  }
  virtual T* First() const { return Get(0); }
  virtual T* Last() const { return Get(count_ - 1); }
  // No item: First when forward, else Last. Otherwise the item after (forward) or before it, or nullptr
  // at the list's end. An item that IndexOf does not find raises "tObject %s not in item list".
  virtual T* Neighbour(const T* item, bool forward) const {
    if (item == nullptr) return forward ? First() : Last();
    std::int64_t index = IndexOf(item);
    if (index < 0) detail::ThrowNotInList(typeid(*item));
    index += forward ? 1 : -1;
    if (index < 0 || index >= count_) return nullptr;
    return items_[static_cast<std::size_t>(index)];
  }
  // Count and capacity to zero; the items are not freed.
  virtual void Clear() {
    items_.clear();
    items_.shrink_to_fit();
    count_ = 0;
  }
  // Frees every item (when owning), then Clear.
  void FreeAll() {
    for (std::int64_t i = 0; i < count_; ++i) FreeItem(items_[static_cast<std::size_t>(i)]);
    Clear();
  }
  // Removes the reference at index without freeing the item; returns it.
  T* Extract(std::int64_t index) {
    T* item = Get(index);
    items_.erase(items_.begin() + index);
    items_.push_back(nullptr);
    --count_;
    return item;
  }
  // Removes and frees (when owning) the item at index.
  void Delete(std::int64_t index) { FreeItem(Extract(index)); }

  // Count <= n <= kMaxListSize.
  void SetCapacity(std::int64_t n) {
    if (n < count_ || n > kMaxListSize) IndexError(n);
    items_.resize(static_cast<std::size_t>(n), nullptr);
  }
  // 0 <= n <= kMaxListSize; new slots hold nullptr, shrinking drops references without freeing.
  void SetCount(std::int64_t n) {
    if (n < 0 || n > kMaxListSize) IndexError(n);
    if (n > Capacity()) SetCapacity(n);
    for (std::int64_t i = count_; i < n; ++i) items_[static_cast<std::size_t>(i)] = nullptr;
    for (std::int64_t i = n; i < count_; ++i) items_[static_cast<std::size_t>(i)] = nullptr;
    count_ = n;
  }

  // Range-for over the items in list order.
  T* const* begin() const { return items_.data(); }
  T* const* end() const { return items_.data() + count_; }

 protected:
  [[noreturn]] virtual void IndexError(std::int64_t index) const { detail::ThrowListIndexError(index); }
  virtual void Grow() {
    const std::int64_t capacity = Capacity();
    std::int64_t delta = capacity > 8 ? std::max<std::int64_t>(16, capacity / 4) : capacity > 4 ? 8 : 4;
    if (capacity + delta > kMaxListSize) delta = kMaxListSize - capacity;
    SetCapacity(capacity + delta);
  }
  // Deletes the item when the list owns its items.
  virtual void FreeItem(T* item) {
    if (owns_items_) delete item;
  }
  void InsertAt(std::int64_t index, T* item) {
    if (index < 0 || index > count_) IndexError(index);
    if (count_ == Capacity()) {
      if (count_ >= kMaxListSize) IndexError(count_);
      Grow();
    }
    auto first = items_.begin() + index;
    std::move_backward(first, items_.begin() + count_, items_.begin() + count_ + 1);
    *first = item;
    ++count_;
  }

 private:
  bool owns_items_ = true;
  std::vector<T*> items_;  // size() is the capacity
  std::int64_t count_ = 0;
};

enum class TDuplicatePolicy : std::uint8_t { kIgnore = 0, kAccept = 1, kError = 2 };

template <typename T>
class TSortedObjectList : public TObjectList<T> {
 public:
  explicit TSortedObjectList(TDuplicatePolicy policy) : policy_(policy) {}

  TDuplicatePolicy Duplicates() const { return policy_; }

  // Raises "Cannot <Put> an Object in a sorted list!".
  void Put(std::int64_t, T*) override { detail::ThrowSortedPut(); }
  // Inserts at the sorted position; returns the index, or -1 when policy kIgnore dropped a duplicate (the
  // item then stays with the caller).
  std::int64_t Add(T* item) override { return InsertSorted(item); }
  // The index is ignored: same as Add.
  void Insert(std::int64_t, T* item) override { InsertSorted(item); }
  // Index of an item whose key compares equal to the item's key, or -1.
  std::int64_t IndexOf(const T* item) const override {
    std::int64_t index = 0;
    return Search(KeyOf(item), index) ? index : -1;
  }

  // The key an item is compared by: the item itself.
  virtual const T* KeyOf(const T* item) const { return item; }
  // Negative when key1 sorts before key2, 0 when equal, positive after.
  virtual int Compare(const T* key1, const T* key2) const = 0;
  // Binary search; returns whether an equal key exists and the index as described at the top.
  virtual bool Search(const T* key, std::int64_t& index) const {
    std::int64_t lo = 0;
    std::int64_t hi = this->Count() - 1;
    bool found = false;
    while (lo <= hi) {
      const std::int64_t mid =
          static_cast<std::int64_t>((static_cast<std::uint64_t>(lo) + static_cast<std::uint64_t>(hi)) >> 1);
      const int c = Compare(KeyOf(this->Get(mid)), key);
      if (c < 0) {
        lo = mid + 1;
      } else {
        hi = mid - 1;
        if (c == 0) {
          found = true;
          if (policy_ != TDuplicatePolicy::kAccept) lo = mid;
        }
      }
    }
    index = lo;
    return found;
  }

 private:
  std::int64_t InsertSorted(T* item) {
    std::int64_t index = 0;
    if (Search(KeyOf(item), index)) {
      if (policy_ == TDuplicatePolicy::kIgnore) return -1;
      if (policy_ == TDuplicatePolicy::kError) detail::ThrowDuplicate();
    }
    this->InsertAt(index, item);
    return index;
  }

  TDuplicatePolicy policy_;
};

}  // namespace kzb::zip
