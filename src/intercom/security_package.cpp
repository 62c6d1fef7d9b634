#include "intercom/security_package.h"

#include <atomic>

namespace zor {
namespace {
std::atomic<TSecurityPackage*> gPackage{nullptr};
}

TSecurityPackage* GetSecurityPackage() {
  return gPackage.load(std::memory_order_acquire);
}
void SetSecurityPackage(TSecurityPackage* package) {
  gPackage.store(package, std::memory_order_release);
}

}  // namespace zor
