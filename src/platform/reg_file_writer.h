// Writes keys of a hive in the registry file format (see reg_file_format.h): the 5.00
// header, then each key of the subtree in tree order with its values. What the writer
// produces reads back into the same keys and values.
#pragma once

#include <string>
#include <string_view>

#include "platform/registry_hive.h"
#include "platform/registry_root.h"

namespace zor {

// The key `path` ("" for the whole hive) and everything under it.
std::string WriteRegFile(const RegHive& hive, RegRoot root, std::string_view path = {});

}  // namespace zor
