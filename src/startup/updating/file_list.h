// The server's list of client files as the update worker keeps it: one entry per file, in
// the server's order, each with the version, MS-DOS date/time and size of the server's copy.
// The list travels as "name=version,age,size" entries joined by ";".
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

inline constexpr std::string_view kNoFileVersion = "0.0.0.0";

struct TFileObject {
  std::string Version{kNoFileVersion};
  int32_t FileAge = -1;  // MS-DOS date/time of the server's copy
  int32_t FileSize = 0;
};

struct TFileEntry {
  std::string Name;  // the server's form, parts joined by '\'
  TFileObject File;
};

using TFileList = std::vector<TFileEntry>;

// What the server says about one file when asked for it alone; false: it does not know it.
using TFileInfoLookup = std::function<bool(const std::string& name, TFileObject& info)>;

// The list text parsed by the update layer (`ParseServerFileList`: defaults for empty or
// non-numeric fields, names that would leave the client's folder refused with "Invalid file
// name '%s'!"); an entry whose age or size field is empty is completed by asking `lookup`
// for that one file (an unknown file keeps the defaults).
TFileList BuildFileList(std::string_view text, const TFileInfoLookup& lookup);

// The name with '\' turned into '/', as it lies below the client's folder.
std::string LocalFileName(std::string_view name);

// Sum of `FileSize` over the list.
int64_t TotalFileSize(const TFileList& list);

}  // namespace zor
