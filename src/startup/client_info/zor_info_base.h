// The client information object: one per process, it says which edition runs, whether the
// client works in network mode, where its data folder is and where its settings live in the
// registry. Every reader and writer of a setting goes through it.
//
// The settings key is KeyPath under HKLM, or under HKCU for the whole run once this process
// finds that it cannot write HKLM. Each thread gets its own registry object, so registry
// access needs no lock; the object's own lock guards UseConnectionLink and the data folder.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/zor_registry.h"
#include "update/download_settings.h"

namespace zor {

inline constexpr int kMinDownloadCapacity = 10;
inline constexpr int kMaxDownloadCapacity = 100;
inline constexpr int kDefaultWaitInputMs = 3000;
inline constexpr int kMinWaitInputMs = 500;
// The lookup server used when "SOAPServerName" is not set: a deployment value; ours points
// at the lookup service of a server on this machine.
inline constexpr std::string_view kDefaultLookupServer = "127.0.0.1";
inline constexpr int32_t kDataPathNotSetCode = 71001;
inline constexpr int32_t kDataPathMissingCode = 71002;
inline constexpr std::string_view kDataPathNotSetMessage = "ZOR的数据路径并未设定, 请进行初始设置!";
inline constexpr std::string_view kDataPathMissingMessage =
    "ZOR的数据路径设定错误, 系统无法找到以下路径: %s";

// "DownloadFileCapacity" limited to 10..100.
int ClampDownloadCapacity(int32_t value);

class TZORInfoBase {
 public:
  // What the object is built from: the program's full path and its parameters.
  struct StartupFacts {
    std::string ExePath;
    std::vector<std::string> Params;
  };

  explicit TZORInfoBase(StartupFacts facts);
  virtual ~TZORInfoBase();
  TZORInfoBase(const TZORInfoBase&) = delete;
  TZORInfoBase& operator=(const TZORInfoBase&) = delete;

  bool V4Edition() const { return V4; }
  bool NetMode() const { return Net.load(); }
  bool UseConnectionLink() const { return ConnectionLink.load(); }
  bool FellBackToHKCU() const { return FellBack.load(); }
  const std::string& KeyPath() const { return Key; }
  const std::string& ExeDir() const { return Dir; }
  const std::string& ExeName() const { return Name; }
  // "" in the base class; the edition's code in `TZORInfo`.
  virtual std::string EditionCode() const { return {}; }
  int DownloadCapacity() const { return Capacity; }
  const std::string& LookupServer() const { return Lookup; }
  int32_t ClientKind() const { return Kind; }
  bool TestVersion() const { return Test; }
  bool TerminalMode() const { return Terminal; }
  const std::string& ProgramVersion() const { return Version; }
  uint8_t Marker() const { return 0; }

  // The calling thread's registry object positioned on KeyPath + `subKey` (created when
  // `canCreate`), or nullptr when the key cannot be opened. The object belongs to the thread.
  TZORRegistry* OpenSettingsKey(std::string_view subKey, bool canCreate);
  // A string setting of the settings key; when the key lives under HKCU and the key or the
  // value is missing there, the HKLM copy (read only). Trimmed.
  std::string ReadSettingWithFallback(std::string_view name);

  // In memory only.
  void SetNetMode(bool value) { Net.store(value); }
  // When the value changes and network mode is off, also stored as "UseConnectionLink".
  void SetUseConnectionLink(bool value);

  // The executable's folder in network mode or with UseConnectionLink, else the "ZORPath"
  // setting (raising 71001 when empty, 71002 when missing). Trailing '/'. Kept once known.
  std::string GetDataFolder();
  std::string GetComsFolder() { return GetDataFolder() + "Coms/"; }
  std::string GetDefinesFolder() { return GetDataFolder() + "Defines/"; }
  std::string GetLangDllsFolder() { return GetDataFolder() + "LangDlls/"; }
  std::string GetLibsFolder() { return GetDataFolder() + "Libs/"; }
  std::string GetSpecialComsFolder() { return GetDataFolder() + "Special/Coms/"; }
  std::string GetSpecialDefinesFolder() { return GetDataFolder() + "Special/Defines/"; }
  std::string GetSpecialLangDllsFolder() { return GetDataFolder() + "Special/LangDlls/"; }
  // The data folder + "Help/", created when missing.
  std::string GetHelpFolder();
  // "WaitInput" of the settings key (3000 when absent), at least 500.
  int GetWaitInput();

 private:
  TZORRegistry& ThreadRegistry();

  bool V4 = false;
  std::atomic<bool> Net{false};
  std::atomic<bool> ConnectionLink{false};
  std::atomic<bool> FellBack{false};
  std::string Key;
  std::string Dir;
  std::string Name;
  int Capacity = kDefaultDownloadCapacity;
  std::string Lookup{kDefaultLookupServer};
  int32_t Kind = 0;
  bool Test = false;
  bool Terminal = true;
  std::string Version;

  std::mutex Lock;  // UseConnectionLink changes and the data folder
  std::optional<std::string> DataFolder;
  std::mutex RegistriesLock;
  std::map<std::thread::id, std::unique_ptr<TZORRegistry>> Registries;
};

// The class the singleton is created from; nullptr means `TZORInfoBase`.
using ZorInfoClass = std::unique_ptr<TZORInfoBase> (*)(TZORInfoBase::StartupFacts facts);
void SetZorInfoClass(ZorInfoClass infoClass);
ZorInfoClass GetZorInfoClass();

// The singleton, created on first use from the registered class and the program's own
// path and parameters.
TZORInfoBase& GetZorInfo();
// Frees the singleton (the end of the run, and tests); the next use creates a new one.
void FreeZorInfo();

}  // namespace zor
