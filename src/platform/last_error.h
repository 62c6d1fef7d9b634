// The calling thread's last operating-system error and the raise helpers built on it.
// On this platform the number is the C library's errno value; rules that name a Windows
// number (access denied = 5 when opening files) translate where they are applied.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <source_location>
#include <string>
#include <string_view>

#include "base/format.h"

namespace zor {

// The calling thread's last OS error (errno); 0 when none.
uint32_t GetLastOsError();
void SetLastOsError(uint32_t error);
// The system's message text for an error number ("No such file or directory").
std::string SystemErrorMessage(uint32_t error);

// Raises `EWin32ErrorEx` "<context> (<number>)<system text>" for the thread's last error;
// returns without raising when it is 0.
void RaiseLastWin32ErrorEx(std::string_view context,
                           std::source_location where = std::source_location::current());
// As above with the context formatted from `format` and `args` (the error is read first,
// so formatting cannot disturb it).
void RaiseLastWin32ErrorExRes(std::string_view format, std::initializer_list<FormatArg> args,
                              std::source_location where = std::source_location::current());
// Raises `EWin32ErrorEx` for an error number that a call returned instead of setting errno
// (posix_spawn, getaddrinfo-style APIs); 0 returns without raising.
void RaiseOsErrorEx(std::string_view context, uint32_t error,
                    std::source_location where = std::source_location::current());

}  // namespace zor
