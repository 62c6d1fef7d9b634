// A small non-zero number for the calling thread, stored in the atomic markers of a connection
// (who holds the execute lock, who is reconnecting).
#pragma once

#include <cstdint>

namespace zor {

uint32_t CurrentThreadNumber();

}  // namespace zor
