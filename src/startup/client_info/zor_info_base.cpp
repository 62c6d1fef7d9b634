#include "startup/client_info/zor_info_base.h"

#include "base/ascii_case.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "base/string_routines.h"
#include "platform/file_system.h"
#include "platform/program_parameters.h"
#include "startup/client_info/client_edition.h"
#include "startup/client_info/file_version.h"
#include "startup/launch/file_copy.h"
#include "startup/launch/path_names.h"
#include "startup/launch/program_arguments.h"

namespace zor {
namespace {

constexpr std::string_view kValueDownloadCapacity = "DownloadFileCapacity";
constexpr std::string_view kValueLookupServer = "SOAPServerName";
constexpr std::string_view kValueTestVersion = "TestVersion";
constexpr std::string_view kValueTerminalMode = "TerminalMode";
constexpr std::string_view kValueUseConnectionLink = "UseConnectionLink";
constexpr std::string_view kValueWaitInput = "WaitInput";
constexpr std::string_view kValueZorPath = "ZORPath";

// A key path without leading or trailing backslashes, for comparing positions.
std::string_view BarePath(std::string_view path) {
  while (!path.empty() && path.front() == '\\') path.remove_prefix(1);
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return path;
}

std::mutex gSingletonLock;
ZorInfoClass gInfoClass = nullptr;
std::unique_ptr<TZORInfoBase> gInfo;

}  // namespace

int ClampDownloadCapacity(int32_t value) {
  if (value < kMinDownloadCapacity) return kMinDownloadCapacity;
  if (value > kMaxDownloadCapacity) return kMaxDownloadCapacity;
  return value;
}

TZORInfoBase::TZORInfoBase(StartupFacts facts) {
  Dir = ExtractFilePath(facts.ExePath);
  Name = ExtractFileName(facts.ExePath);
  const ClientEdition edition = DetermineEdition(Name, facts.Params);
  V4 = edition.V4Edition;
  Net.store(edition.NetMode);
  Key = std::string(SettingsKeyPath(V4));

  if (TZORRegistry* reg = OpenSettingsKey("", false)) {
    Capacity = ClampDownloadCapacity(
        reg->ReadIntegerDef(kValueDownloadCapacity, kDefaultDownloadCapacity));
    Lookup = reg->ReadStringDef(kValueLookupServer, kDefaultLookupServer);
    Test = reg->ReadBoolDef(kValueTestVersion, false);
    Terminal = reg->ReadStringDef(kValueTerminalMode, "1") != "0";
  }
  Kind = V4 ? kClientKindV4 : kClientKindM880;
  Version = GetFileVersionString(facts.ExePath, 0);
}

TZORInfoBase::~TZORInfoBase() = default;

TZORRegistry& TZORInfoBase::ThreadRegistry() {
  std::lock_guard guard(RegistriesLock);
  std::unique_ptr<TZORRegistry>& slot = Registries[std::this_thread::get_id()];
  if (!slot) {
    RegRoot root = RegRoot::CurrentUser;
    if (!FellBack.load()) {
      if (TZORRegistry::CanWriteHKLM()) {
        root = RegRoot::LocalMachine;
      } else {
        FellBack.store(true);
      }
    }
    slot = std::make_unique<TZORRegistry>(root, KEY_ALL_ACCESS);
    // Working from HKCU, what the user has not set comes from the administrator's HKLM copy.
    slot->SetMachineDefaults(root == RegRoot::CurrentUser);
  }
  return *slot;
}

TZORRegistry* TZORInfoBase::OpenSettingsKey(std::string_view subKey, bool canCreate) {
  TZORRegistry& reg = ThreadRegistry();
  std::string path = Key + std::string(subKey);
  if (path.front() != '\\') path.insert(path.begin(), '\\');
  if (reg.HasCurrentKey() && SameTextAscii(BarePath(reg.CurrentPath()), BarePath(path)))
    return &reg;
  return reg.OpenKey(path, canCreate) ? &reg : nullptr;
}

std::string TZORInfoBase::ReadSettingWithFallback(std::string_view name) {
  TZORRegistry* reg = OpenSettingsKey("", false);
  if (reg && reg->ValueExists(name)) return std::string(Trim(reg->ReadStringDef(name, "")));
  if (!FellBack.load())
    return reg ? std::string(Trim(reg->ReadStringDef(name, ""))) : std::string();
  TZORRegistry machine(RegRoot::LocalMachine, KEY_READ);
  if (!machine.OpenKeyReadOnly("\\" + Key)) return {};
  return std::string(Trim(machine.ReadStringDef(name, "")));
}

void TZORInfoBase::SetUseConnectionLink(bool value) {
  std::lock_guard guard(Lock);
  if (ConnectionLink.load() == value) return;
  ConnectionLink.store(value);
  if (Net.load()) return;
  if (TZORRegistry* reg = OpenSettingsKey("", true)) reg->WriteBool(kValueUseConnectionLink, value);
}

std::string TZORInfoBase::GetDataFolder() {
  std::lock_guard guard(Lock);
  if (DataFolder) return *DataFolder;
  std::string folder;
  if (Net.load() || ConnectionLink.load()) {
    folder = Dir;
  } else {
    const std::string valueName = std::string(kValueZorPath) + (V4 ? "V4" : "");
    folder = ReadSettingWithFallback(valueName);
    if (folder.empty()) RaiseZORError(kDataPathNotSetCode, -1, kDataPathNotSetMessage);
    if (!CurrentFileSystem().IsFolder(folder)) {
      RaiseZORError(kDataPathMissingCode, -1, Format(kDataPathMissingMessage, {folder}));
    }
  }
  DataFolder = IncludeTrailingPathDelimiter(folder);
  return *DataFolder;
}

std::string TZORInfoBase::GetHelpFolder() {
  const std::string folder = GetDataFolder() + "Help/";
  if (!CurrentFileSystem().IsFolder(folder)) ForceDirectory(folder);
  return folder;
}

int TZORInfoBase::GetWaitInput() {
  int wait = kDefaultWaitInputMs;
  if (TZORRegistry* reg = OpenSettingsKey("", false))
    wait = reg->ReadIntegerDef(kValueWaitInput, kDefaultWaitInputMs);
  return wait < kMinWaitInputMs ? kMinWaitInputMs : wait;
}

void SetZorInfoClass(ZorInfoClass infoClass) {
  std::lock_guard guard(gSingletonLock);
  gInfoClass = infoClass;
}

ZorInfoClass GetZorInfoClass() {
  std::lock_guard guard(gSingletonLock);
  return gInfoClass;
}

TZORInfoBase& GetZorInfo() {
  std::lock_guard guard(gSingletonLock);
  if (!gInfo) {
    TZORInfoBase::StartupFacts facts{ParamStr(0), ProgramParameterList()};
    gInfo = gInfoClass ? gInfoClass(std::move(facts))
                       : std::make_unique<TZORInfoBase>(std::move(facts));
  }
  return *gInfo;
}

void FreeZorInfo() {
  std::lock_guard guard(gSingletonLock);
  gInfo.reset();
}

}  // namespace zor
