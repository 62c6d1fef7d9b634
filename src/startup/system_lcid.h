// The system default LCID as the launcher sees it.
#pragma once

#include <cstdint>

namespace zor {

uint32_t SystemDefaultLcid();

}  // namespace zor
