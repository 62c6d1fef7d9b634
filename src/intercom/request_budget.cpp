#include "intercom/request_budget.h"

namespace zor {

bool TSpillBudget::Reserve(uint64_t bytes) {
  uint64_t used = InUseBytes.load();
  do {
    if (bytes > Limit || used > Limit - bytes) return false;
  } while (!InUseBytes.compare_exchange_weak(used, used + bytes));
  return true;
}

}  // namespace zor
