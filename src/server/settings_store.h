// Where the server keeps its settings: values under the server's settings key, addressed by a
// sub-key ("" for the key itself, a service's name for its own values) and a value name.
// The program uses the registry store; tests use the in-memory one. Names compare without case.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zor {

class TSettingsStore {
 public:
  virtual ~TSettingsStore() = default;
  // Each read gives nothing when the value is missing or of another kind.
  virtual std::optional<int64_t> ReadInteger(std::string_view subKey, std::string_view name) = 0;
  virtual std::optional<std::string> ReadString(std::string_view subKey, std::string_view name) = 0;
  virtual void WriteInteger(std::string_view subKey, std::string_view name, int64_t value) = 0;
  virtual void WriteString(std::string_view subKey, std::string_view name,
                           std::string_view value) = 0;

  // Booleans are integers: 0 false, anything else true.
  bool ReadBool(std::string_view subKey, std::string_view name, bool fallback);
  int64_t ReadInteger(std::string_view subKey, std::string_view name, int64_t fallback);
  std::string ReadString(std::string_view subKey, std::string_view name, std::string_view fallback);
  void WriteBool(std::string_view subKey, std::string_view name, bool value) {
    WriteInteger(subKey, name, value ? 1 : 0);
  }
};

class TMemorySettings : public TSettingsStore {
 public:
  std::optional<int64_t> ReadInteger(std::string_view subKey, std::string_view name) override;
  std::optional<std::string> ReadString(std::string_view subKey, std::string_view name) override;
  void WriteInteger(std::string_view subKey, std::string_view name, int64_t value) override;
  void WriteString(std::string_view subKey, std::string_view name, std::string_view value) override;
  using TSettingsStore::ReadInteger;
  using TSettingsStore::ReadString;

 private:
  static std::string KeyOf(std::string_view subKey, std::string_view name);
  std::mutex Lock;
  std::map<std::string, std::variant<int64_t, std::string>> Values;
};

}  // namespace zor
