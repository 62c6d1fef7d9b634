#include "startup/updating/machine_copy.h"

#include <cstdlib>
#include <iostream>

#include "base/string_routines.h"
#include "platform/directories.h"
#include "platform/folder_sharing.h"
#include "platform/zor_registry.h"

namespace zor {

namespace {

std::string_view WithoutTrailingDelimiter(std::string_view folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
  return folder;
}

// The named folder as a canonical path (links resolved), so that the comparison with the
// launcher's own folder, which the system gives canonical, holds however it was written.
std::string CanonicalFolder(const std::string& folder) {
  return WeaklyCanonicalPath(folder);
}

}  // namespace

TMachineCopyRole DecideMachineCopyRole(std::string_view exeDir, std::string_view machineFolder,
                                       std::optional<uint32_t> keeper, uint32_t user) {
  if (machineFolder.empty() ||
      WithoutTrailingDelimiter(exeDir) != WithoutTrailingDelimiter(machineFolder) || !keeper)
    return TMachineCopyRole::None;
  return *keeper == user ? TMachineCopyRole::Keeper : TMachineCopyRole::User;
}

TMachineCopyRole MachineCopyRole(const std::string& exeDir, const std::string& keyPath) {
  TZORRegistry machine(RegRoot::LocalMachine, KEY_READ);
  if (!machine.OpenKeyReadOnly("\\" + keyPath)) return TMachineCopyRole::None;
  const std::string named(Trim(machine.ReadStringDef(kValueMachineClientFolder, "")));
  if (named.empty()) return TMachineCopyRole::None;
  const std::string folder = CanonicalFolder(named);
  if (WithoutTrailingDelimiter(exeDir) != WithoutTrailingDelimiter(folder))
    return TMachineCopyRole::None;
  return DecideMachineCopyRole(exeDir, folder, SoleKeeperOfFolder(folder), EffectiveUserId());
}

void NoteMachineCopy(const std::string& folder) {
  std::cerr << "[machine copy] " << std::string(WithoutTrailingDelimiter(folder))
            << " is the machine's client copy, kept up to date by its service; the launcher "
               "starts the main program from it without updating it\n";
}

bool UpdateOnlyRequested() {
  const char* value = std::getenv(std::string(kUpdateOnlyVariable).c_str());
  return value != nullptr && std::string_view(value) == "1";
}

}  // namespace zor
