// The system's number of the calling thread, as logs show it.
#pragma once

#include <cstdint>

namespace zor {

uint32_t CurrentThreadId();

}  // namespace zor
