#include "transport/name_service_settings.h"

#include <mutex>
#include <optional>

#include "platform/zor_registry.h"

namespace zor {
namespace {
std::mutex gLock;
TNameServiceSettings gSettings;
}  // namespace

TNameServiceSettings GetNameServiceSettings() {
  std::lock_guard guard(gLock);
  return gSettings;
}

void SetNameServiceSettings(const TNameServiceSettings& settings) {
  std::lock_guard guard(gLock);
  gSettings = settings;
}

void ResetNameServiceSettings() {
  SetNameServiceSettings(TNameServiceSettings{});
}

namespace {
constexpr const char* kClientKey = "\\Software\\ZOR\\DK880";

// The value from the first root that has it.
template <class Read>
auto ReadFirst(Read read) -> decltype(read(std::declval<TZORRegistry&>())) {
  for (RegRoot root : {RegRoot::LocalMachine, RegRoot::CurrentUser}) {
    TZORRegistry registry(root, KEY_READ);
    if (!registry.OpenKeyReadOnly(kClientKey)) continue;
    if (auto value = read(registry)) return value;
  }
  return std::nullopt;
}
}  // namespace

void LoadNameServiceSettings() {
  TNameServiceSettings settings;
  if (auto host = ReadFirst([](TZORRegistry& r) -> std::optional<std::string> {
        if (!r.ValueExists(kNameServiceHostValue)) return std::nullopt;
        std::string text = r.ReadStringDef(kNameServiceHostValue, "");
        if (text.empty()) return std::nullopt;
        return text;
      })) {
    settings.Host = *host;
  }
  if (auto port = ReadFirst([](TZORRegistry& r) -> std::optional<int32_t> {
        if (!r.ValueExists(kNameServicePortValue)) return std::nullopt;
        const int32_t value = r.ReadIntegerDef(kNameServicePortValue, 0);
        if (value < 1 || value > 65535) return std::nullopt;
        return value;
      })) {
    settings.Port = static_cast<uint16_t>(*port);
  }
  SetNameServiceSettings(settings);
}

}  // namespace zor
