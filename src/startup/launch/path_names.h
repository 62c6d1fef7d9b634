// Splitting and changing file names the way the launcher derives its companion names:
// the folder keeps its trailing separator, the extension starts at the last '.' of the
// file name part.
#pragma once

#include <string>
#include <string_view>

#include "platform/path_delimiter.h"

namespace zor {

// "/opt/zor/Client.exe" -> "Client.exe".
std::string ExtractFileName(std::string_view path);
// "/opt/zor/Client.exe" -> "/opt/zor/" ("" for a bare name).
inline std::string ExtractFilePath(std::string_view path) {
  return FolderWithDelimiter(path);
}
// "Client.exe" -> ".exe"; "" when the file name has none.
std::string ExtractFileExt(std::string_view path);
// "/opt/zor/Client.exe", ".CHT" -> "/opt/zor/Client.CHT"; a name without extension gets it
// appended.
std::string ChangeFileExt(std::string_view path, std::string_view extension);
// "Client.exe" -> "Client".
std::string FileNameWithoutExt(std::string_view path);

}  // namespace zor
