// Uninstalling the client ("/UnInstall").
#pragma once

namespace zor {

// Removes the client's files, shortcuts and registration.
void UninstallClient();

}  // namespace zor
