#include "startup/launcher_version.h"

namespace zor {

std::string_view LauncherVersion() { return ZOR_VERSION; }

}  // namespace zor
