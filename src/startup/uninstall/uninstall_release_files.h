// What else an uninstall removes beside the client's fixed file list: every file of the
// release the launcher last accepted (the signed release's files as its last pass found
// them, from the launcher's hash cache), the partial downloads of client files, and, for a
// client installed from the package, the package's menu entry for this user.
#pragma once

#include <set>
#include <string>
#include <vector>

namespace zor {

// The package's menu entry, which starts (and so installs again) the client.
inline constexpr const char* kPackagedMenuEntry = "zor-client.desktop";

// The files of the last accepted release below `clientFolder`, as relative names ('/'); an
// entry of the cache outside the folder is left out (the cache is a file on disk like any
// other). Empty when there is no usable cache.
std::set<std::string> LastReleaseFiles(const std::string& clientFolder);

// Whether `relativeName` is a partial download ("<name>_tmp") of a file the uninstall removes.
bool IsPartialDownloadOf(const std::string& relativeName, const std::set<std::string>& release,
                         const std::string& clientFolder);

// Hides the package's menu entry for this user when one of `systemFolders` holds it: an
// entry of the same name in `userFolder` that says it is hidden (a user cannot remove the
// package's file, and the menu would start the client again). True when it did.
bool HidePackagedMenuEntry(const std::vector<std::string>& systemFolders,
                           const std::string& userFolder);

}  // namespace zor
