// The command codes of the file service, which the launcher's update calls and the server
// answers: the file list, the information on one file and its data in plain and packed form
// (the data from any position), the information and the data in one reply, a changed file as
// a delta against the client's copy, and uploads. The
// service owns the 256 codes from its base.
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
// The information on one file and its data in one reply. Arguments: name, area, position,
// size, age and language; the position is that of a partial copy of the given size and age
// (0 for none). The reply is [found, version, size, age, start]: the server starts at the
// position when the size and age are its file's and the position lies within it, else at 0.
// When found and start < size, the data stream from start follows the reply, in the same form
// as 0xA20A and 0xA20E.
inline constexpr uint32_t cmdPlainFileFetch = 0xA215;
inline constexpr uint32_t cmdPackedFileFetch = 0xA216;
// A changed file as a delta against the client's old copy (see update/delta_wire.h for the
// arguments, the reply and the stream that follows it).
inline constexpr uint32_t cmdDeltaFileFetch = 0xA220;

}  // namespace zor
