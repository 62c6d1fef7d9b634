#include "startup/uninstall.h"

#include "base/exceptions.h"

namespace zor {

// PLACEHOLDER: the uninstall job is not built yet; the switch reaches here and says so.
void UninstallClient() { throw EZORException("Uninstall is not available in this build."); }

}  // namespace zor
