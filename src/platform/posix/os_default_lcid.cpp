#include <cstdlib>

#include "platform/locale.h"

namespace zor {

uint32_t OsDefaultLcid() {
  return DeriveLcid(std::getenv("ZOR_LCID"), std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                    std::getenv("LANG"));
}

}  // namespace zor
