// The permissions a file the update puts in place gets: read and write for the owner, read
// for others, and execute for everyone when it is a program (an ELF image or a script),
// judged by its first bytes, since the release carries no permission bits.
#pragma once

#include <string>

namespace zor {

// Sets those permissions on `path` (a link is followed); a file that cannot be read or
// changed is passed over, for the rename that follows to report.
void SetNormalFileMode(const std::string& path);

}  // namespace zor
