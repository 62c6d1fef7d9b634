#include "base/finalization.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace zor {

namespace {

struct FinalizeList {
  std::mutex Lock;
  std::vector<std::pair<int, FinalizeProc>> Pairs;  // ascending order; -1 at the end
  bool ExitHookInstalled = false;
};

FinalizeList& List() {
  static auto* list = new FinalizeList;  // outlives every static destructor that may use it
  return *list;
}

void RunAtExit() {
  RunFinalizeProcs();
}

}  // namespace

void AddFinalizeProc(FinalizeProc proc, int order) {
  if (proc == nullptr) return;
  FinalizeList& list = List();
  std::lock_guard guard(list.Lock);
  if (!list.ExitHookInstalled) {
    std::atexit(RunAtExit);
    list.ExitHookInstalled = true;
  }
  std::erase_if(list.Pairs, [&](const auto& p) { return p.second == proc; });
  auto at = list.Pairs.end();
  if (order != kFinalizeLast) {
    // After every pair of an equal or lower number, before the pairs added with -1.
    at = std::find_if(list.Pairs.begin(), list.Pairs.end(),
                      [&](const auto& p) { return p.first == kFinalizeLast || p.first > order; });
  }
  list.Pairs.insert(at, {order, proc});
}

void RemoveFinalizeProc(FinalizeProc proc) {
  FinalizeList& list = List();
  std::lock_guard guard(list.Lock);
  std::erase_if(list.Pairs, [&](const auto& p) { return p.second == proc; });
}

void RunFinalizeProcs() {
  std::vector<std::pair<int, FinalizeProc>> pairs;
  {
    FinalizeList& list = List();
    std::lock_guard guard(list.Lock);
    pairs.swap(list.Pairs);
  }
  for (auto it = pairs.rbegin(); it != pairs.rend(); ++it) {
    try {
      it->second();
    } catch (...) {
      // At process end there is nobody left to tell; the remaining procedures still run.
    }
  }
}

}  // namespace zor
