// `TZORRegistry`: the registry class every part of the program uses to read and write its
// settings. An object has a root (HKLM by default), an access mask and at most one open key.
// Paths use backslashes. A path with a leading backslash starts at the root; one without it
// is relative to the open key, or to the root when no key is open. `CurrentPath` never
// carries a leading backslash. Reads fall back to a default as the typed-reads rules say;
// writes go straight to the hive file (see registry_store.h) and raise `ERegistryError` when
// they fail. One object belongs to one thread; several objects may share a hive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_root.h"
#include "platform/registry_value.h"

namespace zor {

inline constexpr uint32_t KEY_READ = 0x00020019;
inline constexpr uint32_t KEY_ALL_ACCESS = 0x000F003F;

class TZORRegistry {
 public:
  TZORRegistry() = default;
  explicit TZORRegistry(uint32_t access) : AccessMask(access) {}
  TZORRegistry(RegRoot root, uint32_t access) : Root(root), AccessMask(access) {}

  RegRoot RootKey() const { return Root; }
  // Changing the root closes the open key.
  void SetRootKey(RegRoot root);
  uint32_t Access() const { return AccessMask; }
  void SetAccess(uint32_t access) { AccessMask = access; }
  // True when the access mask allows writing (any of the set-value, create-subkey bits).
  bool CanWrite() const;

  // Opens `key` (creating it and its parents when `canCreate`). With write access the
  // root's hive must be writable by this process, as an open for full access would be
  // refused otherwise. Returns false (the open key unchanged) when the key is missing,
  // cannot be created or cannot be opened with this access.
  bool OpenKey(std::string_view key, bool canCreate);
  // Opens an existing key for reading; the access mask becomes KEY_READ.
  bool OpenKeyReadOnly(std::string_view key);
  void CloseKey();
  bool HasCurrentKey() const { return Open; }
  // The open key's path from the root, without a leading backslash ("" when none is open).
  const std::string& CurrentPath() const { return Path; }

  // Whether `key` exists (same path rules as `OpenKey`).
  bool KeyExists(std::string_view key) const;
  // Whether the open key holds the value ("" is the default value).
  bool ValueExists(std::string_view name) const;

  // Typed reads of the open key; a missing key or value gives the default.
  // REG_SZ/REG_EXPAND_SZ: an integer text gives value != 0, other text the default;
  // REG_DWORD: value != 0; other types: the default.
  bool ReadBoolDef(std::string_view name, bool defaultValue) const;
  // REG_DWORD: the value; everything else: the default.
  int32_t ReadIntegerDef(std::string_view name, int32_t defaultValue) const;
  // REG_SZ/REG_EXPAND_SZ: the text; REG_DWORD: the value in decimal; else the default.
  std::string ReadStringDef(std::string_view name, std::string_view defaultValue) const;
  // The raw typed value, or nothing when the key or the value is missing.
  std::optional<RegValue> ReadValue(std::string_view name) const;

  // Writes into the open key; raise `ERegistryError` when no key is open, the access is
  // read-only, the key has been deleted meanwhile or the hive cannot be written.
  void WriteBool(std::string_view name, bool value);                           // REG_DWORD 1 or 0
  void WriteInteger(std::string_view name, int32_t value);                     // REG_DWORD
  void WriteString(std::string_view name, std::string_view value);             // REG_SZ
  void WriteExpandString(std::string_view name, std::string_view value);       // REG_EXPAND_SZ
  void WriteBinary(std::string_view name, const std::vector<uint8_t>& value);  // REG_BINARY
  void WriteMultiString(std::string_view name, const std::vector<std::string>& value);
  void WriteQword(std::string_view name, uint64_t value);  // REG_QWORD
  void WriteValue(std::string_view name, const RegValue& value);

  // Deletes a value of the open key; false when it did not exist.
  bool DeleteValue(std::string_view name);
  // Deletes `key` with everything under it (same path rules as `OpenKey`); false when it did
  // not exist. Deleting the open key (or one of its parents) closes it.
  bool DeleteKey(std::string_view key);

  // Names of the open key's subkeys and values, as stored (root's when none is open).
  std::vector<std::string> GetKeyNames() const;
  std::vector<std::string> GetValueNames() const;

  // Whether this process can write the HKLM hive ("HKLM opens with full access").
  static bool CanWriteHKLM();

  // Machine defaults for an HKCU object: a key or value missing under HKCU is read from the
  // same key under HKLM, read-only, so that what an administrator set reaches every user who
  // works from HKCU. `OpenKey` without creation then also opens a key that only HKLM has;
  // writes still go to HKCU (creating the key there first), and a value deleted under HKCU
  // shows the machine's again. No effect on other roots.
  void SetMachineDefaults(bool on) { MachineDefaults = on; }
  bool UsesMachineDefaults() const { return MachineDefaults && Root == RegRoot::CurrentUser; }

 private:
  // `key` resolved against the open key: the full path from the root, no leading backslash.
  std::string Resolve(std::string_view key) const;
  void RequireWritableKey(std::string_view name) const;

  // Whether the machine's copy of `full` exists (false when HKLM cannot be read).
  bool MachineHasKey(const std::string& full) const;

  RegRoot Root = RegRoot::LocalMachine;
  uint32_t AccessMask = KEY_ALL_ACCESS;
  bool MachineDefaults = false;
  bool Open = false;
  std::string Path;
};

}  // namespace zor
