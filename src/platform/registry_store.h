// The hive files behind the registry: one file per root (HKLM.reg, HKCU.reg, HKCR.reg) in the
// registry file format. Reads take the file as it stands (writers replace it in one rename,
// so a reader sees the old or the new contents, never a mix). Every change is made under an
// exclusive `flock` on "<hive>.lock": the hive is read again under the lock, changed and put
// in place by an atomic, durable replacement of the file-system layer (file_system.h), so
// concurrent writers in several processes lose nothing, and a writer killed half-way, a
// failing disk or a power cut leaves the old hive intact. The temporaries a killed writer
// left are removed by the next writer, under the lock.
//
// Folders: `$ZOR_REGISTRY_DIR` for all three files when set; otherwise /etc/zor for HKLM
// and HKCR and `${XDG_CONFIG_HOME:-~/.config}/zor` for HKCU. A test points the store at a
// folder of its own with `ScopedRegistryDir` instead.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/registry_hive.h"
#include "platform/registry_root.h"

namespace zor {

// The folder that holds the hive file of `root`.
std::string RegistryDir(RegRoot root);
// The hive file of `root`.
std::string RegistryHivePath(RegRoot root);

// The hive as stored; an absent file is an empty hive. HKLM and HKCU always hold their
// "Software" key, as on the system the store stands in for. Raises `ERegistryFileError` for a
// damaged file and `ERegistryError` when the file cannot be read.
RegHive LoadHive(RegRoot root);

// The bytes of a registry file (a hive or a file to import), or nothing when it does not
// exist. A file over the size limit raises `ERegistryFileError` before anything is read;
// other failures raise `ERegistryError`.
std::optional<std::string> ReadRegistryFile(const std::string& path);

// Changes the hive under its lock: `change` gets the current contents and returns whether it
// changed anything; the file is rewritten only then. Raises `ERegistryError` when the folder,
// the lock or the file cannot be written (the hive is then unchanged), and lets exceptions
// from `change` through (nothing is written). A failing sync of the folder after the rename
// also raises; the new hive is then in place.
void UpdateHive(RegRoot root, const std::function<bool(RegHive&)>& change);

// Whether this process can change the hive of `root`: its folder exists or can be created,
// and the lock file can be created and locked there.
bool CanWriteHive(RegRoot root);

// Test substitution: puts all three hives in `dir` (nullopt restores the environment and the
// defaults). Disk faults come from a `FaultFileSystem` (fault_file_system.h).
void SetRegistryDirOverride(std::optional<std::string> dir);

class ScopedRegistryDir {
 public:
  explicit ScopedRegistryDir(std::string dir) { SetRegistryDirOverride(std::move(dir)); }
  ~ScopedRegistryDir() { SetRegistryDirOverride(std::nullopt); }
  ScopedRegistryDir(const ScopedRegistryDir&) = delete;
  ScopedRegistryDir& operator=(const ScopedRegistryDir&) = delete;
};

}  // namespace zor
