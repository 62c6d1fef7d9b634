// The command codes of the file service, which the launcher's update calls and the server
// answers: the file list, the information on one file and its data in plain and packed form
// (the data from any position), and uploads. The service owns the 256 codes from its base.
#pragma once

#include <cstdint>

namespace zor {

inline constexpr uint32_t kFileServiceBase = 0xA200;
inline constexpr uint32_t cmdFileList = 0xA202;
inline constexpr uint32_t cmdPlainFileInfo = 0xA209;
inline constexpr uint32_t cmdPlainFileData = 0xA20A;
inline constexpr uint32_t cmdPackedFileInfo = 0xA20D;
inline constexpr uint32_t cmdPackedFileData = 0xA20E;
inline constexpr uint32_t cmdUploadFile = 0xA214;

}  // namespace zor
