// Release files whose names the server's 8-bit code page cannot hold. The file list carries
// names as wide strings and our launchers ask for files by wide names, so they fetch such a
// file; a launcher that names files in the server's code page cannot ask for it. The server
// says so in its log at start and after every rescan, and `--check` lists them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/release_folder.h"

namespace zor {

// The names (as the list spells them) that `codePage` cannot hold, in the snapshot's order.
std::vector<std::string> NamesOutsideCodePage(const TReleaseSnapshot& snapshot, uint32_t codePage);

// The sentence for one such name, for the log and `--check`.
std::string NameOutsideCodePageText(const std::string& name, uint32_t language);

}  // namespace zor
