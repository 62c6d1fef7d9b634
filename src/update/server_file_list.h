// The server's list of client files, as the file-list command answers it: entries joined by
// ";", each a name, "=", and the version, age (MS-DOS date/time) and size joined by ",".
// Every name is checked like any name from the server: one that is absolute, has a drive
// letter or a ".." part makes the whole list invalid.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

inline constexpr std::string_view kDefaultFileVersion = "0.0.0.0";

struct TServerFileEntry {
  std::string Name;       // the server's form, parts joined by '\'
  std::string LocalName;  // the same parts joined by '/', relative to the client's folder
  std::string Version{kDefaultFileVersion};
  int32_t FileAge = -1;
  int32_t FileSize = 0;
  // Age or size was empty: the caller asks the server for this one file.
  bool NeedsInfo = false;
};

// Parses the list in server order; empty entries are skipped. An empty version reads as
// "0.0.0.0", an age that is not a 32-bit integer as -1, such a size as 0. Raises `Exception`
// "Invalid file name '%s'!" for a name that would leave the client's folder.
std::vector<TServerFileEntry> ParseServerFileList(std::string_view text);

// A decimal 32-bit integer with an optional sign, or `defaultValue`.
int32_t ParseInt32Or(std::string_view text, int32_t defaultValue);

}  // namespace zor
