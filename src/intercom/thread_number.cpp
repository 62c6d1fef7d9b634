#include "intercom/thread_number.h"

#include <atomic>

namespace zor {

uint32_t CurrentThreadNumber() {
  static std::atomic<uint32_t> next{1};
  thread_local const uint32_t number = next.fetch_add(1);
  return number;
}

}  // namespace zor
