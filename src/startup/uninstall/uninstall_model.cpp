#include "startup/uninstall/uninstall_model.h"

#include <exception>
#include <set>
#include <vector>

#include "base/ascii_case.h"
#include "platform/contained_files.h"
#include "platform/special_folders.h"
#include "platform/zor_registry.h"
#include "startup/client_info/client_environment.h"
#include "startup/client_info/lang_messages.h"
#include "startup/client_info/zor_info_base.h"
#include "startup/launch/message_box.h"
#include "startup/uninstall/uninstall_client_files.h"
#include "startup/uninstall/uninstall_release_files.h"

namespace zor {
namespace {

struct EditionNames {
  std::string_view Code;  // "" for any other edition
  int Entry;
  int StartShortcut;
  int UninstallShortcut;
  int MenuFolder;
};

constexpr EditionNames kEditionNames[] = {
    {"V4", 24, 22, 23, 8},
    {"POS", 26, 28, 29, 8},
    {"QMR", 27, 30, 31, 8},
    {"SMB", 38, 39, 40, 38},
};
constexpr EditionNames kOtherEditionNames = {"", 8, 18, 19, 8};

// A name that stands for one entry of a folder. An empty name (the English texts of most
// editions) names nothing: taken as a path it would be the folder itself, and as a registry
// subkey the whole list of installed programs.
bool IsSingleName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\\') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

bool DeleteShortcut(const std::string& folder, const std::string& subFolder,
                    const std::string& name) {
  if (!IsSingleName(name)) return false;
  const std::string fileName = name + std::string(kShortcutExtension);
  return DeleteFileBelow(folder, subFolder.empty() ? fileName : subFolder + "/" + fileName);
}

int RemoveShortcuts(const TUninstallEnvironment& environment, const TUninstallNames& names) {
  int removed = 0;
  if (DeleteShortcut(environment.DesktopFolder, "", names.StartShortcut)) ++removed;
  if (!IsSingleName(names.MenuFolder)) return removed;
  if (DeleteShortcut(environment.ApplicationsFolder, names.MenuFolder, names.StartShortcut))
    ++removed;
  if (DeleteShortcut(environment.ApplicationsFolder, names.MenuFolder, names.UninstallShortcut))
    ++removed;
  // Only an emptied folder goes; whatever else the user keeps there stays with it.
  (void)RemoveEmptyFolderBelow(environment.ApplicationsFolder, names.MenuFolder);
  return removed;
}

bool RemoveProgramsEntry(const std::string& entry) {
  if (!IsSingleName(entry)) return false;
  try {
    TZORRegistry machine(RegRoot::LocalMachine, KEY_ALL_ACCESS);
    return machine.DeleteKey(std::string(kInstalledProgramsKey) + "\\" + entry);
  } catch (const std::exception&) {
    return false;  // no rights under HKLM, or an unreadable hive: the entry stays
  }
}

void Notify(TUninstallView* view, void (TUninstallView::*event)(const TUninstallProgressModel&),
            const TUninstallProgressModel& window) {
  if (view != nullptr) (view->*event)(window);
}

}  // namespace

TUninstallNames UninstallNamesFor(std::string_view editionCode) {
  const EditionNames* found = &kOtherEditionNames;
  for (const EditionNames& edition : kEditionNames) {
    if (SameTextAscii(editionCode, edition.Code)) found = &edition;
  }
  const bool smb = found->Code == "SMB";
  TUninstallNames names;
  names.ConfirmText = GetLangMessage(smb ? kMsgConfirmUninstallSmb : kMsgConfirmUninstall);
  names.ConfirmCaption = GetLangMessage(smb ? kMsgSmbSeriesName : kMsgSeriesName);
  names.ProgramsEntry = GetLangMessage(found->Entry);
  names.StartShortcut = GetLangMessage(found->StartShortcut);
  names.UninstallShortcut = GetLangMessage(found->UninstallShortcut);
  names.MenuFolder = GetLangMessage(found->MenuFolder);
  return names;
}

TUninstallEnvironment SystemUninstallEnvironment() {
  const TZORInfoBase& info = GetZorInfo();
  TUninstallEnvironment environment;
  environment.ClientFolder = info.ExeDir();
  environment.EditionCode = info.EditionCode();
  environment.DesktopFolder = GetDesktopFolder();
  environment.ApplicationsFolder = GetApplicationsFolder();
  environment.SystemApplicationsFolders = GetSystemApplicationsFolders();
  environment.IsMainAppRunning = [] { return IsMainAppRunning(); };
  environment.View = GetUninstallView();
  return environment;
}

TUninstallReport RunUninstall(const TUninstallEnvironment& environment) {
  TUninstallReport report;
  const TUninstallNames names = UninstallNamesFor(environment.EditionCode);

  MessageBoxRequest confirm;
  confirm.Text = names.ConfirmText;
  confirm.Caption = names.ConfirmCaption;
  confirm.Icon = MessageIcon::Question;
  confirm.Buttons = MessageButtons::YesNo;
  if (ShowMessageBox(confirm) != MessageResult::Yes) return report;

  // Removing the files of a running main program would pull them from under it.
  if (environment.IsMainAppRunning && environment.IsMainAppRunning()) {
    ShowMessage(GetLangMessage(kMsgAlreadyRunning));
    report.Outcome = TUninstallOutcome::MainAppRunning;
    return report;
  }
  report.Outcome = TUninstallOutcome::Finished;

  TUninstallProgressModel window;
  Notify(environment.View, &TUninstallView::Shown, window);
  const std::vector<std::string> files = ListFilesBelow(environment.ClientFolder);
  // Read before the files go: the hash cache is one of them.
  const std::set<std::string> release = LastReleaseFiles(environment.ClientFolder);
  window.SetMaxValue(static_cast<int64_t>(files.size()));
  Notify(environment.View, &TUninstallView::ProgressChanged, window);
  for (const std::string& file : files) {
    // Type libraries have no registration to undo here; deleting the file is all.
    const bool ours = IsClientFile(environment.ClientFolder, file) || release.contains(file) ||
                      IsPartialDownloadOf(file, release, environment.ClientFolder);
    const bool removed = ours && DeleteFileBelow(environment.ClientFolder, file);
    window.Step(file, removed);
    Notify(environment.View, &TUninstallView::ProgressChanged, window);
  }
  report.FilesListed = window.MaxValue();
  report.FilesRemoved = window.Removed();

  report.ShortcutsRemoved = RemoveShortcuts(environment, names);
  report.PackagedMenuEntryHidden =
      HidePackagedMenuEntry(environment.SystemApplicationsFolders, environment.ApplicationsFolder);
  report.ProgramsEntryRemoved = RemoveProgramsEntry(names.ProgramsEntry);
  if (report.ProgramsEntryRemoved) {
    MessageBoxRequest finished;
    finished.Text = GetLangMessage(kMsgUninstallFinished);
    finished.Caption = GetLangMessage(kMsgSeriesName);
    ShowMessageBox(finished);
  }
  Notify(environment.View, &TUninstallView::Hidden, window);
  return report;
}

}  // namespace zor
