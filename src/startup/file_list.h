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
  std::string Name;
  TFileObject File;
};

using TFileList = std::vector<TFileEntry>;

// What the server says about one file when asked for it alone; false: it does not know it.
using TFileInfoLookup = std::function<bool(const std::string& name, TFileObject& info)>;

// Parses the list text. An entry whose age or size field is empty is completed by asking
// `lookup` for that one file (an unknown file keeps the defaults); otherwise an empty version
// becomes "0.0.0.0", an age or size that is not an integer becomes -1 or 0. Pieces without
// a name are skipped. A name that would reach outside the client's folder (rooted, a drive
// or any ':', a ".." part, a control character) raises `Exception` "Invalid file name '%s'!".
TFileList ParseServerFileList(std::string_view text, const TFileInfoLookup& lookup);

// The name with '\' turned into '/', as it lies below the client's folder.
std::string LocalFileName(std::string_view name);

// Sum of `FileSize` over the list.
int64_t TotalFileSize(const TFileList& list);

}  // namespace zor
