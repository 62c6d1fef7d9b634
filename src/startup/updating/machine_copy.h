// One client folder for every user of a computer, for sites that do not want a copy per
// user: the administrator names the folder in the machine's settings ("MachineClientFolder"
// under HKLM), and a system service brings it up to date as a dedicated account, which alone
// (with root) may write there. The launcher in that folder, run by that account, updates it
// as usual; run by anyone else, it updates nothing (the folder is not theirs to write) and
// starts the main program from it. Users trust the keeping account as they trust root. A
// folder that anyone else may write into is no machine copy: it is refused like any shared
// folder.
//
// The service runs the launcher with ZOR_UPDATE_ONLY=1: the update passes alone, without
// starting the main program (exit status 0 once the folder is up to date).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zor {

inline constexpr std::string_view kValueMachineClientFolder = "MachineClientFolder";
inline constexpr std::string_view kUpdateOnlyVariable = "ZOR_UPDATE_ONLY";

enum class TMachineCopyRole {
  None,    // not the machine copy: a folder of the user's own, updated as usual
  Keeper,  // the machine copy, run by the account that keeps it: updated as usual
  User,    // the machine copy, run by another user: started without an update
};

// The role of the launcher in `exeDir` given the configured `machineFolder` (empty: none),
// the folder's sole keeper (nothing: others may write into it) and this user's id. Folder
// names compare after the trailing delimiter is dropped.
TMachineCopyRole DecideMachineCopyRole(std::string_view exeDir, std::string_view machineFolder,
                                       std::optional<uint32_t> keeper, uint32_t user);

// The same from the machine's settings under `keyPath` and the folder on disk.
TMachineCopyRole MachineCopyRole(const std::string& exeDir, const std::string& keyPath);

// Says on standard error that the launcher starts from the machine copy `folder` without
// updating it (its keeper's service does).
void NoteMachineCopy(const std::string& folder);

// Whether this run only updates (ZOR_UPDATE_ONLY=1 in the environment).
bool UpdateOnlyRequested();

}  // namespace zor
