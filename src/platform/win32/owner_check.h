// Whether a file or folder is this user's alone: its owner is the user of this process and
// nobody but that user, the system and the administrators may change it. For what the
// program keeps between runs, as the owner-and-mode check does on Linux.
#pragma once

#include <windows.h>

#include <string>

namespace zor::win32 {

// The open object (a handle with READ_CONTROL) passes the check. With `othersMayRead`
// false, nobody else but the system and the administrators may have any access at all.
// With `orMachine`, an object of the machine passes too: one owned by the system, the
// administrators or the installer service that only they may change (what a per-machine
// install lays out, as a file of root is on Linux).
bool IsTrustedOwnHandle(HANDLE handle, bool othersMayRead = true, bool orMachine = false);

// The process user's SID as SDDL text ("S-1-5-21-..."); empty when it cannot be told.
std::wstring ProcessUserSidText();

}  // namespace zor::win32
