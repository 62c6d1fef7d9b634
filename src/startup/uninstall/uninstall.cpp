#include "startup/uninstall/uninstall.h"

#include "startup/uninstall/uninstall_model.h"

namespace zor {

void UninstallClient() {
  (void)RunUninstall(SystemUninstallEnvironment());
}

}  // namespace zor
