// Windows error numbers the cross compiler's headers do not all name yet.
#pragma once

#include <cstdint>

namespace zor::win32 {

inline constexpr uint32_t kErrorDirectoryNotSupported = 336;  // a folder where a file was asked for
inline constexpr uint32_t kErrorStoppedOnSymlink = 681;       // a link where none may be
inline constexpr uint32_t kErrorDiskQuotaExceeded = 1295;

}  // namespace zor::win32
