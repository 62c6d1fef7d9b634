// The messages of an update that the disk or the client folder stopped, in the launcher's
// three languages (English, traditional and simplified Chinese script).
#pragma once

#include <string_view>

namespace zor {

enum class TUpdateFaultText {
  DiskFull,             // %s: the file that could not be written
  FolderNotWritable,    // %s: the client folder
  ListedFileNotServed,  // %s: the entry of the server's file list
  ListEntryNotAName,    // %s: the entry of the server's file list
};

// The text in language `langIndex` (0 English, 1 traditional, 2 simplified; others English).
std::string_view UpdateFaultTextIn(int langIndex, TUpdateFaultText text);

}  // namespace zor
