#include "server/settings_store.h"

#include "update/request_name.h"

namespace zor {

bool TSettingsStore::ReadBool(std::string_view subKey, std::string_view name, bool fallback) {
  const std::optional<int64_t> value = ReadInteger(subKey, name);
  return value ? *value != 0 : fallback;
}

int64_t TSettingsStore::ReadInteger(std::string_view subKey, std::string_view name,
                                    int64_t fallback) {
  return ReadInteger(subKey, name).value_or(fallback);
}

std::string TSettingsStore::ReadString(std::string_view subKey, std::string_view name,
                                       std::string_view fallback) {
  std::optional<std::string> value = ReadString(subKey, name);
  return value ? std::move(*value) : std::string(fallback);
}

std::string TMemorySettings::KeyOf(std::string_view subKey, std::string_view name) {
  std::string key;
  key = LowerAscii(subKey);
  key += '\n';
  key += LowerAscii(name);
  return key;
}

std::optional<int64_t> TMemorySettings::ReadInteger(std::string_view subKey,
                                                    std::string_view name) {
  std::lock_guard guard(Lock);
  auto it = Values.find(KeyOf(subKey, name));
  if (it == Values.end() || !std::holds_alternative<int64_t>(it->second)) return std::nullopt;
  return std::get<int64_t>(it->second);
}

std::optional<std::string> TMemorySettings::ReadString(std::string_view subKey,
                                                       std::string_view name) {
  std::lock_guard guard(Lock);
  auto it = Values.find(KeyOf(subKey, name));
  if (it == Values.end() || !std::holds_alternative<std::string>(it->second)) return std::nullopt;
  return std::get<std::string>(it->second);
}

void TMemorySettings::WriteInteger(std::string_view subKey, std::string_view name, int64_t value) {
  std::lock_guard guard(Lock);
  Values[KeyOf(subKey, name)] = value;
}

void TMemorySettings::WriteString(std::string_view subKey, std::string_view name,
                                  std::string_view value) {
  std::lock_guard guard(Lock);
  Values[KeyOf(subKey, name)] = std::string(value);
}

}  // namespace zor
