// The keys and values of one root in memory: the contents of one hive file. Paths are
// relative to the root, without a leading backslash; "" is the root itself, which always
// exists. A key's parents always exist. Names compare without case and keep the spelling
// they were first stored with.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry_names.h"
#include "platform/registry_value.h"

namespace zor {

struct RegNamedValue {
  std::string Name;  // "" is the default value
  RegValue Value;
  bool operator==(const RegNamedValue&) const = default;
};

struct RegKeyNode {
  std::string Path;                   // stored spelling, from the root
  std::vector<RegNamedValue> Values;  // in the order they were first set
  bool operator==(const RegKeyNode&) const = default;

  const RegNamedValue* FindValue(std::string_view name) const;
};

class RegHive {
 public:
  RegHive();

  const RegKeyNode* FindKey(std::string_view path) const;
  // Creates the key and its missing parents; returns the key. `path` must be valid
  // (`RegPathProblem` empty).
  RegKeyNode& CreateKey(std::string_view path);
  // Removes the key and its subtree; false when it did not exist. The root cannot be deleted
  // (its values and subkeys are removed instead).
  bool DeleteKey(std::string_view path);

  // Sets a value, creating the key; keeps the value's position and stored name when it exists.
  void SetValue(std::string_view path, std::string_view name, RegValue value);
  // False when the key or the value did not exist.
  bool DeleteValue(std::string_view path, std::string_view name);

  // Last parts of the direct subkeys of `path`, in tree order.
  std::vector<std::string> SubKeyNames(std::string_view path) const;
  // The key and every key below it, in tree order (parents before children).
  std::vector<const RegKeyNode*> Subtree(std::string_view path) const;

  bool operator==(const RegHive&) const = default;

 private:
  std::map<std::string, RegKeyNode, RegPathLess> Keys;
};

}  // namespace zor
