// Reads a registry file (see reg_file_format.h) into the list of changes it describes, and
// applies those changes to a hive. A damaged file raises `ERegistryFileError` naming the file
// and the line; nothing in a file is skipped silently.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_hive.h"
#include "platform/registry_root.h"
#include "platform/registry_value.h"

namespace zor {

struct RegFileValue {
  std::string Name;     // "" is the default value
  bool Delete = false;  // "Name"=-
  RegValue Value;
  int Line = 0;
};

struct RegFileKey {
  RegRoot Root = RegRoot::LocalMachine;
  std::string Path;     // from the root, no leading backslash; "" is the root itself
  bool Delete = false;  // [-KEY]
  int Line = 0;
  std::vector<RegFileValue> Values;
};

struct RegFile {
  std::vector<RegFileKey> Keys;  // in file order
};

// `fileName` only names the file in error messages.
RegFile ParseRegFile(std::string_view bytes, std::string_view fileName);

// Applies the keys of `file` that belong to `root`, in file order.
void ApplyRegFile(const RegFile& file, RegRoot root, RegHive& hive);

// Reads a hive file's contents: every key must belong to `root`.
RegHive ParseHiveFile(std::string_view bytes, std::string_view fileName, RegRoot root);

}  // namespace zor
