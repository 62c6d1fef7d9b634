// A TCP port on 127.0.0.1 that nobody listened on a moment ago.
#pragma once

#include <cstdint>

namespace zor::testing {

uint16_t FreePort();

}  // namespace zor::testing
