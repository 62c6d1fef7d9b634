#include "startup/uninstall.h"

#include "startup/uninstall_model.h"

namespace zor {

void UninstallClient() {
  (void)RunUninstall(SystemUninstallEnvironment());
}

}  // namespace zor
