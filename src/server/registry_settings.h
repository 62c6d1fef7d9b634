// The server's settings in the registry store: values under HKLM + the server's settings
// key, a service's values in the sub-key named after the service.
#pragma once

#include <mutex>
#include <string>

#include "platform/registry_root.h"
#include "server/settings_store.h"

namespace zor {

// The server's settings key below its root.
inline constexpr std::string_view kServerSettingsKey = "Software\\ZOR\\DK880\\Server";

class TRegistrySettings : public TSettingsStore {
 public:
  explicit TRegistrySettings(std::string key = std::string(kServerSettingsKey),
                             RegRoot root = RegRoot::LocalMachine);

  // DWORD values read as signed 32-bit numbers, QWORD values as 64-bit; integer texts too.
  std::optional<int64_t> ReadInteger(std::string_view subKey, std::string_view name) override;
  std::optional<std::string> ReadString(std::string_view subKey, std::string_view name) override;
  // Integers are written as DWORD values (cut to 32 bits), strings as REG_SZ.
  void WriteInteger(std::string_view subKey, std::string_view name, int64_t value) override;
  void WriteString(std::string_view subKey, std::string_view name, std::string_view value) override;
  using TSettingsStore::ReadInteger;
  using TSettingsStore::ReadString;

 private:
  std::string PathOf(std::string_view subKey) const;
  std::string Key;
  RegRoot Root;
  std::mutex Lock;  // a registry object serves one thread at a time
};

}  // namespace zor
