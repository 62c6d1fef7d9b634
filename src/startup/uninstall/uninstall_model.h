// The uninstall job ("/UnInstall") without a window: the confirmation, the refusal while the
// main program runs, the removal of the client's files below its own folder, of the
// shortcuts (".desktop" files on the desktop and in the applications menu) and of the entry
// in the installed-programs list, the progress window's model and the closing message.
// Every failure after the confirmation is silent: what cannot be removed stays.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "startup/uninstall/uninstall_progress.h"

namespace zor {

// The key under HKLM that holds the installed-programs entries, one subkey per program.
inline constexpr std::string_view kInstalledProgramsKey =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Shortcuts are desktop entry files.
inline constexpr std::string_view kShortcutExtension = ".desktop";

inline constexpr int kMsgUninstallFinished = 16;
inline constexpr int kMsgConfirmUninstall = 17;
inline constexpr int kMsgConfirmUninstallSmb = 41;
inline constexpr int kMsgSeriesName = 8;
inline constexpr int kMsgSmbSeriesName = 38;

// The names the edition gives the uninstall's texts, entry and shortcuts, in the language
// of the process. Any of them may be empty (several are, in English).
struct TUninstallNames {
  std::string ConfirmText;
  std::string ConfirmCaption;
  std::string ProgramsEntry;      // subkey of `kInstalledProgramsKey`
  std::string StartShortcut;      // without extension
  std::string UninstallShortcut;  // without extension
  std::string MenuFolder;         // folder of the applications menu holding both shortcuts
};

// By edition code, ignoring case: "V4", "POS", "QMR", "SMB", any other.
TUninstallNames UninstallNamesFor(std::string_view editionCode);

// What the job takes from the process around it.
struct TUninstallEnvironment {
  std::string ClientFolder;  // the launcher's own folder
  std::string EditionCode;
  std::string DesktopFolder;                           // the user's desktop
  std::string ApplicationsFolder;                      // the user's applications menu
  std::vector<std::string> SystemApplicationsFolders;  // where a package puts its menu entry
  std::function<bool()> IsMainAppRunning;
  TUninstallView* View = nullptr;  // the progress window; none when null
};

enum class TUninstallOutcome { Declined, MainAppRunning, Finished };

struct TUninstallReport {
  TUninstallOutcome Outcome = TUninstallOutcome::Declined;
  int64_t FilesListed = 0;
  int64_t FilesRemoved = 0;
  int ShortcutsRemoved = 0;
  bool ProgramsEntryRemoved = false;
  bool PackagedMenuEntryHidden = false;
};

// The environment of this process: the info object's folder and edition, the user's
// special folders, the main program's run mutex, the view the user-interface port installed.
TUninstallEnvironment SystemUninstallEnvironment();

// Runs the whole job on the calling thread; messages go through the message-box handler.
TUninstallReport RunUninstall(const TUninstallEnvironment& environment);

}  // namespace zor
