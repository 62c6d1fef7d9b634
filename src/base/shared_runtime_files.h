// Files the update must not replace in the client's folder: the shared run-time libraries
// the programs are linked with, and the suite's own shared packages and type libraries,
// which other programs of the suite may hold open.
#pragma once

#include <string_view>

namespace zor {

// True for a file whose name (without case) is one of the shared run-time files, and for
// every file in a folder named "Bpls" or "Coms". `path` may use "/" or "\" separators.
bool IsSharedRuntimeFile(std::string_view path);

}  // namespace zor
