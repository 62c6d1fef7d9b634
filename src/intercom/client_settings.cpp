#include "intercom/client_settings.h"

#include <mutex>

#include "platform/zor_registry.h"

namespace zor {
namespace {
std::mutex gLock;
std::function<TConnectSettings()> gReader;
TClientConnectEnvironment gEnvironment;
}  // namespace

std::string TConnectSettings::ServerName(bool netMode) const {
  const std::string& first = netMode ? RemoteServer : NetServer;
  return first.empty() ? (netMode ? NetServer : RemoteServer) : first;
}

TConnectSettings ReadConnectSettingsFromRegistry(const std::string& keyPath) {
  TConnectSettings settings;
  const RegRoot root = TZORRegistry::CanWriteHKLM() ? RegRoot::LocalMachine : RegRoot::CurrentUser;
  TZORRegistry registry(root, KEY_ALL_ACCESS);
  registry.SetMachineDefaults(root == RegRoot::CurrentUser);
  std::string path = keyPath;
  if (path.empty() || path.front() != '\\') path.insert(path.begin(), '\\');
  if (!registry.OpenKey(path, true)) return settings;
  settings.ConnectType = registry.ReadIntegerDef("ConnectType", kConnectPipe);
  if (settings.ConnectType < 0 || settings.ConnectType > kConnectTcpDiscovery)
    settings.ConnectType = kConnectPipe;
  settings.NetServer = registry.ReadStringDef("NetServer", "");
  settings.RemoteServer = registry.ReadStringDef("RemoteServer", "");
  settings.TCPPort = registry.ReadIntegerDef("TCPPort", kDefaultTcpPort);
  settings.Scramble = registry.ReadIntegerDef("Scramble", 1) != 0;
  settings.DeltaFetch = registry.ReadIntegerDef("DeltaFetch", 1) != 0;
  return settings;
}

TConnectSettings ReadConnectSettings() {
  std::function<TConnectSettings()> reader;
  std::string keyPath;
  {
    std::lock_guard guard(gLock);
    reader = gReader;
    keyPath = gEnvironment.KeyPath;
  }
  return reader ? reader() : ReadConnectSettingsFromRegistry(keyPath);
}

void SetConnectSettingsReader(std::function<TConnectSettings()> reader) {
  std::lock_guard guard(gLock);
  gReader = std::move(reader);
}

TClientConnectEnvironment GetClientConnectEnvironment() {
  std::lock_guard guard(gLock);
  return gEnvironment;
}

void SetClientConnectEnvironment(TClientConnectEnvironment environment) {
  std::lock_guard guard(gLock);
  gEnvironment = std::move(environment);
}

}  // namespace zor
