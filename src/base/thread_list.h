// A list with its own re-entrant lock, for lists that several threads share (handlers of a
// transport, listen records, connections). Each operation takes the lock; `LockList` hands
// out the items for a longer walk. A list with a name is entered in the lock monitor.
#pragma once

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

// How long `LockList` tries before it blocks: no spinning, 200 or 1000 attempts.
enum class ListSpin : int32_t { None = 0, Short = 1, Long = 2 };

// The lock and name of a thread list, apart from the element type.
class TZORThreadListLock {
 public:
  explicit TZORThreadListLock(std::string_view name = {}, ListSpin spin = ListSpin::None);
  ~TZORThreadListLock();
  TZORThreadListLock(const TZORThreadListLock&) = delete;
  TZORThreadListLock& operator=(const TZORThreadListLock&) = delete;

  void Enter();
  void Leave() { Mutex.unlock(); }
  const std::string& ListName() const { return Name; }

 private:
  std::recursive_mutex Mutex;
  std::string Name;
  int SpinCount;
};

template <class T>
class TZORThreadList {
 public:
  explicit TZORThreadList(std::string_view name = {}, ListSpin spin = ListSpin::None)
      : Guard(name, spin) {}
  ~TZORThreadList() {
    Guard.Enter();
    Items.clear();
    Guard.Leave();
  }
  TZORThreadList(const TZORThreadList&) = delete;
  TZORThreadList& operator=(const TZORThreadList&) = delete;

  // Enters the lock and gives the items; every `LockList` needs one `UnlockList`.
  std::vector<T>& LockList() {
    Guard.Enter();
    return Items;
  }
  void UnlockList() { Guard.Leave(); }

  // Appends and answers the new index.
  int Add(const T& item) {
    Locked l(*this);
    Items.push_back(item);
    return static_cast<int>(Items.size()) - 1;
  }
  // Removes the first occurrence and answers its index, -1 when absent.
  int Remove(const T& item) {
    Locked l(*this);
    const auto it = std::find(Items.begin(), Items.end(), item);
    if (it == Items.end()) return -1;
    const int index = static_cast<int>(it - Items.begin());
    Items.erase(it);
    return index;
  }
  int IndexOf(const T& item) {
    Locked l(*this);
    const auto it = std::find(Items.begin(), Items.end(), item);
    return it == Items.end() ? -1 : static_cast<int>(it - Items.begin());
  }
  void Clear() {
    Locked l(*this);
    Items.clear();
  }
  int Count() {
    Locked l(*this);
    return static_cast<int>(Items.size());
  }
  // A copy of the items, for walking without holding the lock.
  std::vector<T> Snapshot() {
    Locked l(*this);
    return Items;
  }
  const std::string& ListName() const { return Guard.ListName(); }

  // Holds the list's lock for a scope.
  class Locked {
   public:
    explicit Locked(TZORThreadList& list) : List(list) { List.Guard.Enter(); }
    ~Locked() { List.Guard.Leave(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    std::vector<T>& Items() { return List.Items; }

   private:
    TZORThreadList& List;
  };

 private:
  TZORThreadListLock Guard;
  std::vector<T> Items;
};

}  // namespace zor
