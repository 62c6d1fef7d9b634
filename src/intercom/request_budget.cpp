#include "intercom/request_budget.h"

namespace zor {

bool TSpillBudget::Reserve(uint64_t bytes) {
  uint64_t used = InUseBytes.load();
  do {
    if (bytes > Limit || used > Limit - bytes) return false;
  } while (!InUseBytes.compare_exchange_weak(used, used + bytes));
  return true;
}

bool TInFlightBudget::Reserve(uint64_t bytes, uint64_t elements) {
  uint64_t used = Bytes.load();
  do {
    if (bytes > MaxBytes || used > MaxBytes - bytes) return false;
  } while (!Bytes.compare_exchange_weak(used, used + bytes));
  uint64_t count = Elements.load();
  do {
    if (elements > MaxElements || count > MaxElements - elements) {
      Bytes.fetch_sub(bytes);
      return false;
    }
  } while (!Elements.compare_exchange_weak(count, count + elements));
  return true;
}

void TInFlightBudget::Release(uint64_t bytes, uint64_t elements) {
  Bytes.fetch_sub(bytes);
  Elements.fetch_sub(elements);
}

bool TInFlightShare::Add(uint64_t bytes, uint64_t elements) {
  if (!Budget) return true;
  if (!Budget->Reserve(bytes, elements)) return false;
  Bytes += bytes;
  Elements += elements;
  return true;
}

void TInFlightShare::Clear() {
  if (Budget) Budget->Release(Bytes, Elements);
  Bytes = 0;
  Elements = 0;
}

}  // namespace zor
