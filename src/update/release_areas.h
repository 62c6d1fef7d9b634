// Where each server area lives inside the release folder: the same subfolders the
// launcher uses below its own folder, so a release folder is laid out like a client folder.
#pragma once

#include <string>
#include <string_view>

namespace zor {

// The area's folder relative to the release folder, in the file list's form ("bpls\",
// "Special\Help\"), or empty for the release folder itself. Areas compare without case;
// ".", "Libs", "Upgrade", "LangDll" and every unknown area are the release folder.
std::string AreaFolder(std::string_view area);

}  // namespace zor
