#include "platform/zor_registry.h"

#include "base/format.h"
#include "base/number_strings.h"
#include "platform/registry_error.h"
#include "platform/registry_hive.h"
#include "platform/registry_names.h"
#include "platform/registry_store.h"

namespace zor {
namespace {

// The rights in an access mask that allow changing a key.
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyCreateSubKey = 0x0004;

// Whether `text` is an integer the way the program's string-to-integer conversion reads it:
// optional blanks, an optional sign, decimal digits or "$"/"0x" and up to eight hex digits,
// within 32 bits.
std::optional<int32_t> ParseInteger(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.starts_with("$")) {
    base = 16;
    text.remove_prefix(1);
  } else if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  }
  if (base == 16 && text.size() > 8) return std::nullopt;
  const std::optional<uint64_t> digits =
      ParseDigits(text, base, base == 16 ? uint64_t{0xFFFFFFFF} : uint64_t{1} << 31);
  if (!digits) return std::nullopt;
  int64_t value = static_cast<int64_t>(*digits);
  if (base == 16) value = static_cast<int32_t>(static_cast<uint32_t>(value));
  if (negative) value = -value;
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(value);
}

}  // namespace

void TZORRegistry::SetRootKey(RegRoot root) {
  CloseKey();
  Root = root;
}

bool TZORRegistry::CanWrite() const {
  return (AccessMask & (kKeySetValue | kKeyCreateSubKey)) != 0;
}

std::string TZORRegistry::Resolve(std::string_view key) const {
  const bool relative = key.empty() || key.front() != kRegPathSeparator;
  if (!relative) key.remove_prefix(1);
  if (!key.empty() && key.back() == kRegPathSeparator) key.remove_suffix(1);
  if (relative && Open && !Path.empty()) {
    if (key.empty()) return Path;
    return Path + kRegPathSeparator + std::string(key);
  }
  return std::string(key);
}

bool TZORRegistry::OpenKey(std::string_view key, bool canCreate) {
  const std::string full = Resolve(key);
  if (!RegPathProblem(full).empty()) return false;
  if (CanWrite() && !CanWriteHive(Root)) return false;
  if (!LoadHive(Root).FindKey(full)) {
    if (!canCreate) {
      if (!UsesMachineDefaults() || !MachineHasKey(full)) return false;
      Open = true;  // seen through the machine's copy until the first write makes it here
      Path = full;
      return true;
    }
    try {
      UpdateHive(Root, [&](RegHive& hive) {
        if (hive.FindKey(full)) return false;
        hive.CreateKey(full);
        return true;
      });
    } catch (const ERegistryFileError&) {
      throw;  // a damaged hive is reported, not mistaken for a missing key
    } catch (const ERegistryError&) {
      return false;
    }
  }
  Open = true;
  Path = full;
  return true;
}

bool TZORRegistry::OpenKeyReadOnly(std::string_view key) {
  AccessMask = KEY_READ;
  return OpenKey(key, false);
}

void TZORRegistry::CloseKey() {
  Open = false;
  Path.clear();
}

bool TZORRegistry::KeyExists(std::string_view key) const {
  const std::string full = Resolve(key);
  return LoadHive(Root).FindKey(full) != nullptr;
}

bool TZORRegistry::MachineHasKey(const std::string& full) const {
  try {
    return LoadHive(RegRoot::LocalMachine).FindKey(full) != nullptr;
  } catch (const ERegistryError&) {
    return false;  // an unreadable machine hive gives no defaults
  }
}

std::optional<RegValue> TZORRegistry::ReadValue(std::string_view name) const {
  {
    const RegHive hive = LoadHive(Root);
    if (const RegKeyNode* node = hive.FindKey(Path))
      if (const RegNamedValue* value = node->FindValue(name)) return value->Value;
  }
  if (!Open || !UsesMachineDefaults()) return std::nullopt;
  try {
    const RegHive machine = LoadHive(RegRoot::LocalMachine);
    if (const RegKeyNode* node = machine.FindKey(Path))
      if (const RegNamedValue* value = node->FindValue(name)) return value->Value;
  } catch (const ERegistryError&) {
    // an unreadable machine hive gives no defaults
  }
  return std::nullopt;
}

bool TZORRegistry::ValueExists(std::string_view name) const {
  return ReadValue(name).has_value();
}

bool TZORRegistry::ReadBoolDef(std::string_view name, bool defaultValue) const {
  const std::optional<RegValue> value = ReadValue(name);
  if (!value) return defaultValue;
  if (auto text = value->AsString()) {
    const std::optional<int32_t> number = ParseInteger(*text);
    return number ? *number != 0 : defaultValue;
  }
  if (auto number = value->AsDword()) return *number != 0;
  return defaultValue;
}

int32_t TZORRegistry::ReadIntegerDef(std::string_view name, int32_t defaultValue) const {
  const std::optional<RegValue> value = ReadValue(name);
  if (!value) return defaultValue;
  if (auto number = value->AsDword()) return static_cast<int32_t>(*number);
  return defaultValue;
}

std::string TZORRegistry::ReadStringDef(std::string_view name,
                                        std::string_view defaultValue) const {
  const std::optional<RegValue> value = ReadValue(name);
  if (value) {
    if (auto text = value->AsString()) return *text;
    if (auto number = value->AsDword()) return std::to_string(static_cast<int32_t>(*number));
  }
  return std::string(defaultValue);
}

void TZORRegistry::RequireWritableKey(std::string_view name) const {
  std::string problem;
  if (!Open)
    problem = "no key is open";
  else if (!CanWrite())
    problem = "the key is open for reading only";
  else
    problem = RegValueNameProblem(name);
  if (!problem.empty())
    throw ERegistryError(Format("Failed to set data for '%s': %s", {name, problem}));
}

void TZORRegistry::WriteValue(std::string_view name, const RegValue& value) {
  RequireWritableKey(name);
  UpdateHive(Root, [&](RegHive& hive) {
    const RegKeyNode* node = hive.FindKey(Path);
    if (!node && UsesMachineDefaults() && MachineHasKey(Path)) {
      hive.CreateKey(Path);  // the key so far seen through the machine's copy
      node = hive.FindKey(Path);
    }
    if (!node)
      throw ERegistryError(
          Format("Failed to set data for '%s': the key \"%s\" no longer exists", {name, Path}));
    if (const RegNamedValue* old = node->FindValue(name); old && old->Value == value) return false;
    hive.SetValue(Path, name, value);
    return true;
  });
}

void TZORRegistry::WriteBool(std::string_view name, bool value) {
  WriteValue(name, RegValue::Dword(value ? 1 : 0));
}
void TZORRegistry::WriteInteger(std::string_view name, int32_t value) {
  WriteValue(name, RegValue::Dword(static_cast<uint32_t>(value)));
}
void TZORRegistry::WriteString(std::string_view name, std::string_view value) {
  WriteValue(name, RegValue::String(value, kRegSz));
}
void TZORRegistry::WriteExpandString(std::string_view name, std::string_view value) {
  WriteValue(name, RegValue::String(value, kRegExpandSz));
}
void TZORRegistry::WriteBinary(std::string_view name, const std::vector<uint8_t>& value) {
  WriteValue(name, RegValue::Binary(value));
}
void TZORRegistry::WriteMultiString(std::string_view name, const std::vector<std::string>& value) {
  WriteValue(name, RegValue::MultiString(value));
}
void TZORRegistry::WriteQword(std::string_view name, uint64_t value) {
  WriteValue(name, RegValue::Qword(value));
}

bool TZORRegistry::DeleteValue(std::string_view name) {
  if (!Open || !CanWrite()) return false;
  bool deleted = false;
  try {
    UpdateHive(Root, [&](RegHive& hive) { return deleted = hive.DeleteValue(Path, name); });
  } catch (const ERegistryFileError&) {
    throw;
  } catch (const ERegistryError&) {
    return false;
  }
  return deleted;
}

bool TZORRegistry::DeleteKey(std::string_view key) {
  const std::string full = Resolve(key);
  if (full.empty() || !RegPathProblem(full).empty()) return false;
  bool deleted = false;
  try {
    UpdateHive(Root, [&](RegHive& hive) { return deleted = hive.DeleteKey(full); });
  } catch (const ERegistryFileError&) {
    throw;
  } catch (const ERegistryError&) {
    return false;
  }
  if (deleted && Open && RegPathIsWithin(Path, full)) CloseKey();
  return deleted;
}

std::vector<std::string> TZORRegistry::GetKeyNames() const {
  return LoadHive(Root).SubKeyNames(Path);
}

std::vector<std::string> TZORRegistry::GetValueNames() const {
  const RegHive hive = LoadHive(Root);
  std::vector<std::string> names;
  if (const RegKeyNode* node = hive.FindKey(Path))
    for (const RegNamedValue& v : node->Values) names.push_back(v.Name);
  return names;
}

bool TZORRegistry::CanWriteHKLM() {
  return CanWriteHive(RegRoot::LocalMachine);
}

}  // namespace zor
