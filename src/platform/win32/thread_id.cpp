#include "platform/thread_id.h"

#include <windows.h>

namespace zor {

uint32_t CurrentThreadId() {
  return ::GetCurrentThreadId();
}

}  // namespace zor
