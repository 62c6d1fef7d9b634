#include "server/registry_settings.h"

#include <charconv>

#include "base/exceptions.h"
#include "platform/zor_registry.h"

namespace zor {

TRegistrySettings::TRegistrySettings(std::string key, RegRoot root)
    : Key(std::move(key)), Root(root) {}

std::string TRegistrySettings::PathOf(std::string_view subKey) const {
  std::string path = "\\" + Key;
  if (!subKey.empty()) {
    path += '\\';
    path += subKey;
  }
  return path;
}

std::optional<int64_t> TRegistrySettings::ReadInteger(std::string_view subKey,
                                                      std::string_view name) {
  std::lock_guard guard(Lock);
  TZORRegistry registry(Root, KEY_READ);
  if (!registry.OpenKeyReadOnly(PathOf(subKey))) return std::nullopt;
  const std::optional<RegValue> value = registry.ReadValue(name);
  if (!value) return std::nullopt;
  if (auto dword = value->AsDword()) return static_cast<int32_t>(*dword);
  if (auto qword = value->AsQword()) return static_cast<int64_t>(*qword);
  if (auto text = value->AsString()) {
    int64_t number = 0;
    auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), number);
    if (!text->empty() && error == std::errc() && end == text->data() + text->size()) return number;
  }
  return std::nullopt;
}

std::optional<std::string> TRegistrySettings::ReadString(std::string_view subKey,
                                                         std::string_view name) {
  std::lock_guard guard(Lock);
  TZORRegistry registry(Root, KEY_READ);
  if (!registry.OpenKeyReadOnly(PathOf(subKey))) return std::nullopt;
  const std::optional<RegValue> value = registry.ReadValue(name);
  if (!value) return std::nullopt;
  return value->AsString();
}

void TRegistrySettings::WriteInteger(std::string_view subKey, std::string_view name,
                                     int64_t value) {
  std::lock_guard guard(Lock);
  TZORRegistry registry(Root, KEY_ALL_ACCESS);
  if (!registry.OpenKey(PathOf(subKey), true))
    throw Exception("Cannot open the settings key " + PathOf(subKey));
  registry.WriteInteger(name, static_cast<int32_t>(value));
}

void TRegistrySettings::WriteString(std::string_view subKey, std::string_view name,
                                    std::string_view value) {
  std::lock_guard guard(Lock);
  TZORRegistry registry(Root, KEY_ALL_ACCESS);
  if (!registry.OpenKey(PathOf(subKey), true))
    throw Exception("Cannot open the settings key " + PathOf(subKey));
  registry.WriteString(name, value);
}

}  // namespace zor
