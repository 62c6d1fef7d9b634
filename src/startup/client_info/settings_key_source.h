// Where the settings dialog finds the client key: the calling thread's registry object
// opened on it, and whether the client runs in network mode (which picks the server value
// it reads and writes). `TZorInfoKeySource` takes both from the client information object;
// `TRegistryKeySource` opens a key by path, under HKLM when this process can write HKLM and
// under HKCU otherwise.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/zor_registry.h"

namespace zor {

class TSettingsKeySource {
 public:
  virtual ~TSettingsKeySource() = default;
  // A registry object opened on the client key (created first when `canCreate`), or
  // nullptr when the key cannot be opened. The object stays owned by the source.
  virtual TZORRegistry* OpenClientKey(bool canCreate) = 0;
  virtual bool NetMode() const = 0;
};

class TZORInfoBase;

class TZorInfoKeySource : public TSettingsKeySource {
 public:
  explicit TZorInfoKeySource(TZORInfoBase& info) : Info(info) {}
  TZORRegistry* OpenClientKey(bool canCreate) override;
  bool NetMode() const override;

 private:
  TZORInfoBase& Info;
};

class TRegistryKeySource : public TSettingsKeySource {
 public:
  TRegistryKeySource(std::string keyPath, bool netMode)
      : KeyPath(std::move(keyPath)), Net(netMode) {}
  TZORRegistry* OpenClientKey(bool canCreate) override;
  bool NetMode() const override { return Net; }

 private:
  std::string KeyPath;
  bool Net;
  std::unique_ptr<TZORRegistry> Registry;
};

}  // namespace zor
