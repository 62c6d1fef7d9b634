#include "startup/client_info/settings_key_source.h"

#include "startup/client_info/zor_info_base.h"

namespace zor {

TZORRegistry* TZorInfoKeySource::OpenClientKey(bool canCreate) {
  return Info.OpenSettingsKey("", canCreate);
}

bool TZorInfoKeySource::NetMode() const {
  return Info.NetMode();
}

TZORRegistry* TRegistryKeySource::OpenClientKey(bool canCreate) {
  if (!Registry) {
    const RegRoot root =
        TZORRegistry::CanWriteHKLM() ? RegRoot::LocalMachine : RegRoot::CurrentUser;
    Registry = std::make_unique<TZORRegistry>(root, KEY_ALL_ACCESS);
    Registry->SetMachineDefaults(root == RegRoot::CurrentUser);
  }
  std::string path = KeyPath;
  if (path.empty() || path.front() != '\\') path.insert(path.begin(), '\\');
  Registry->CloseKey();
  return Registry->OpenKey(path, canCreate) ? Registry.get() : nullptr;
}

}  // namespace zor
