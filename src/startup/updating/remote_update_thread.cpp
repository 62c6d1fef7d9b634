#include "startup/updating/remote_update_thread.h"

#include "base/ascii_case.h"
#include "base/clock.h"
#include "base/exceptions.h"
#include "base/format.h"
#include "base/string_routines.h"
#include "platform/file_system.h"
#include "platform/file_times.h"
#include "platform/folder_sharing.h"
#include "platform/pe_version.h"
#include "platform/runtime_dir.h"
#include "startup/client_info/lang_messages.h"
#include "startup/client_info/version_compare.h"
#include "startup/launch/application_state.h"
#include "startup/launch/launch_outcome.h"
#include "startup/launch/path_names.h"
#include "startup/launch/self_copy.h"
#include "update/disk_full.h"
#include "update/file_date.h"
#include "update/list_entry_fault.h"
#include "update/remote_file.h"
#include "update/update_fault_texts.h"
#include "update/writable_folder_probe.h"

namespace zor {
namespace {

// The self-update's files and the release manifest are staged where no other user can plant
// or swap them; a test may name a folder of its own.
std::string StagingFolder(const std::string& tempDir) {
  return tempDir.empty() ? PrivateStagingFolder() : IncludeTrailingPathDelimiter(tempDir);
}

constexpr std::string_view kZhhExt = ".ZHH";

bool LocalFileExists(const std::string& path) {
  return CurrentFileSystem().IsFile(path);
}

void DeleteIfPresent(const std::string& path) {
  CurrentFileSystem().RemoveIfPresent(path);
}

// Runs one step of a pass; a full disk ends the pass with its message in the user's
// language (the partial downloads and their records stay for the next start).
// So does a file of the server's list that cannot be fetched, naming the entry.
template <class Step>
void StopOnFullDisk(int langIndex, Step&& step) {
  try {
    step();
  } catch (const EDiskFull& e) {
    throw EDiskFull(Format(UpdateFaultTextIn(langIndex, TUpdateFaultText::DiskFull), {e.Path}),
                    e.Path);
  } catch (const EListEntryFault& e) {
    const TUpdateFaultText text = e.Fault == TListEntryFault::NotServed
                                      ? TUpdateFaultText::ListedFileNotServed
                                      : TUpdateFaultText::ListEntryNotAName;
    throw EListEntryFault(Format(UpdateFaultTextIn(langIndex, text), {e.Name}), e.Name, e.Fault);
  }
}

}  // namespace

bool HasNoCompanion(std::string_view name) {
  std::vector<std::string> names;
  SplitToStrings(kNoCompanionFiles, names, ";");
  for (const std::string& listed : names) {
    if (SameTextAscii(listed, name)) return true;
  }
  return false;
}

std::string LocalFileVersion(const std::string& path) {
  const FileVersionLookup lookup = ReadFileVersion(path);
  return lookup.Version ? lookup.Version->FileVersionText() : std::string(kNoFileVersion);
}

bool NeedsUpdate(const std::string& localPath, const TFileObject& entry) {
  if (CompareVersion(LocalFileVersion(localPath), entry.Version) < 0) return true;
  return GetFileDosTime(localPath) < entry.FileAge;
}

bool TRemoteUpdateThread::CheckSelfUpdate() {
  // The launcher a self-update started does not replace itself again in the same start.
  if (!Settings.SelfUpdateAllowed) return false;
  TUpdateSource& source = *Settings.Source;
  const std::string launcherName = ExtractFileName(Settings.ExePath);
  const std::string libraryName(kCloudClientLibrary);
  const std::string launcherPath = Settings.ExePath;
  const std::string libraryPath = ExeDir() + libraryName;
  bool knowsLauncher = false;
  bool knowsLibrary = false;
  bool launcherOlder = false;
  bool libraryOlder = false;
  if (Release && Release->HasManifest()) {
    // The signed release alone decides: a copy that differs from the signed one is replaced,
    // whatever the server says about versions and dates.
    const std::string launcherKey = TReleaseGuard::ReleaseName(launcherName, kAreaLibs);
    const std::string libraryKey = TReleaseGuard::ReleaseName(libraryName, kAreaLibs);
    knowsLauncher = Release->Signs(launcherKey);
    knowsLibrary = Release->Signs(libraryKey);
    launcherOlder = knowsLauncher && !Release->LocalFileMatches(launcherKey, launcherPath);
    libraryOlder = knowsLibrary && !Release->LocalFileMatches(libraryKey, libraryPath);
  } else {
    TFileObject launcherInfo;
    TFileObject libraryInfo;
    knowsLauncher = source.GetRemoteFileInfo(launcherName, std::string(kAreaLibs), launcherInfo);
    knowsLibrary = source.GetRemoteFileInfo(libraryName, std::string(kAreaLibs), libraryInfo);
    // A file the server does not hold cannot be newer there. A date more than a day ahead is
    // never stored on the installed copy, so it would look newer again after the replacement
    // and the launcher would replace and restart itself without end: such a date alone does
    // not start a self-update (a higher version still does).
    const auto newer = [](const std::string& path, const TFileObject& info) {
      if (CompareVersion(LocalFileVersion(path), info.Version) < 0) return true;
      return !IsDosDateTooFarAhead(static_cast<uint32_t>(info.FileAge)) && NeedsUpdate(path, info);
    };
    launcherOlder = knowsLauncher && newer(launcherPath, launcherInfo);
    libraryOlder = knowsLibrary && newer(libraryPath, libraryInfo);
  }
  if (!knowsLauncher && !knowsLibrary) return false;
  if (!launcherOlder && !libraryOlder) return false;

  const std::string temp = StagingFolder(Settings.TempDir);
  const std::string newLauncher = temp + launcherName;
  DeleteIfPresent(newLauncher);
  DeleteIfPresent(ChangeFileExt(newLauncher, kLanguageCompanionExt));
  DeleteIfPresent(ChangeFileExt(newLauncher, kZhhExt));
  DeleteIfPresent(temp + libraryName);

  // The new launcher is what does the replacing, so without it nothing happens; the library
  // comes along when the server has one.
  bool fetched = knowsLauncher &&
                 source.DownloadOne(launcherName, std::string(kAreaLibs), true, temp) &&
                 LocalFileExists(newLauncher);
  if (fetched && knowsLibrary) {
    fetched = source.DownloadOne(libraryName, std::string(kAreaLibs), true, temp) &&
              LocalFileExists(temp + libraryName);
  }
  if (!fetched) return false;

  Settings.StartProcess("\"" + newLauncher + "\"" + std::string(kSwitchReCopyArg) + "\"" +
                        Settings.ExePath + "\"");
  RecordLaunchOutcome(TLaunchOutcome::HandedOver);
  Terminate();
  TerminateApplication();
  throw EAbort("");
}

bool TRemoteUpdateThread::DownloadConfigFiles() {
  // One after the other on the update's own connection: each is small, and a connection
  // for each would cost the server a session per file and per start.
  // Each is fetched whole into "<name>_tmp" and put in place only when complete, so a failed
  // fetch keeps the old file; one the server no longer holds is removed, as a fresh fetch
  // would. The first failure ends the pass once all have ended.
  const std::vector<std::string> names(std::begin(kConfigFiles), std::end(kConfigFiles));
  const std::vector<TFetchOutcome> outcomes =
      Settings.Source->DownloadEach(names, std::string(kAreaInstall), ExeDir());
  std::exception_ptr firstError;
  for (size_t i = 0; i < names.size(); ++i) {
    if (outcomes[i].Error) {
      if (!firstError) firstError = outcomes[i].Error;
    } else if (!outcomes[i].Found) {
      // A file of the signed release is never taken away on the server's word.
      if (Release && Release->Signs(TReleaseGuard::ReleaseName(names[i], kAreaInstall))) {
        if (!firstError)
          firstError = std::make_exception_ptr(EReleaseRefused(Format(
              ReleaseTextIn(Settings.LangIndex, TReleaseText::SignedFileMissing), {names[i]})));
        continue;
      }
      DeleteIfPresent(ExeDir() + LocalFileName(names[i]));
    }
  }
  if (firstError) std::rethrow_exception(firstError);
  return outcomes.back().Found;
}

void TRemoteUpdateThread::GetFileList(TFileList& list) {
  StopOnFullDisk(Settings.LangIndex, [&] { FetchFileList(list); });
}

void TRemoteUpdateThread::FetchFileList(TFileList& list) {
  // Before anything is downloaded: a folder this user cannot write into fails the pass
  // once, with its own message, rather than at the first file.
  // A folder other users may write into would let them choose what runs as this user.
  if (!ExeDir().empty() && CheckFolderSharing(ExeDir()) == FolderSharing::OthersMayWrite) {
    std::string folder = ExeDir();
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    throw Exception(
        Format(ReleaseTextIn(Settings.LangIndex, TReleaseText::SharedFolder), {folder}));
  }
  if (!ExeDir().empty()) CheckFolderWritable(ExeDir(), Settings.LangIndex);
  if (!Settings.Source) Settings.Source = GetUpdateSource();
  TUpdateSource& source = *Settings.Source;
  source.EnsureClient();
  ReleaseCheck();
  const auto now =
      std::chrono::duration_cast<std::chrono::seconds>(GetClock().UtcNow().time_since_epoch());
  Release->Prepare(source, StagingFolder(Settings.TempDir), now.count());
  CheckSelfUpdate();
  std::string text;
  std::string second;
  source.GetServerFileList(text, second);
  list = BuildFileList(text, [&source](const std::string& name, TFileObject& info) {
    return source.GetRemoteFileInfo(name, std::string(kAreaLibs), info);
  });
  for (const TFileEntry& entry : list)
    if (IsUnusableListName(entry.Name)) RaiseListEntryFault(entry.Name, TListEntryFault::NotAName);
  Release->CheckList(list);
  DownloadConfigFiles();
}

TReleaseVerification& TRemoteUpdateThread::ReleaseCheck() {
  if (!Release)
    Release = std::make_unique<TReleaseVerification>(
        Settings.ReleaseKey, ExeDir() + std::string(kReleaseStateFileName), Settings.LangIndex,
        ExeDir() + std::string(kReleaseHashesFileName));
  return *Release;
}

std::optional<uint64_t> TRemoteUpdateThread::InstalledRelease() {
  // A pass may fail before it made the check (no server reachable): the state on disk decides.
  // A folder other users may write into starts nothing: they could swap a file once checked.
  try {
    if (!ExeDir().empty() && CheckFolderSharing(ExeDir()) == FolderSharing::OthersMayWrite)
      return std::nullopt;
    return ReleaseCheck().InstalledRelease(ExeDir(), {std::string(kNeverFetched)});
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void TRemoteUpdateThread::UpdateFiles(TFileList& list) {
  StopOnFullDisk(Settings.LangIndex, [&] { FetchFiles(list); });
}

void TRemoteUpdateThread::FinishPass() {
  if (!Release) return;
  Release->RemoveDroppedFiles(
      ExeDir(), {ExtractFileName(Settings.ExePath), std::string(kCloudClientLibrary),
                 std::string(kReleaseStateFileName), std::string(kReleaseHashesFileName)});
  Release->Commit();
}

void TRemoteUpdateThread::FetchFiles(TFileList& list) {
  if (list.empty()) {
    FinishPass();
    return;
  }
  for (size_t i = list.size(); i-- > 0;) {
    const TFileEntry& entry = list[i];
    if (SameTextAscii(entry.Name, kNeverFetched)) {
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
      Form.ClearSettingsChanged();
      continue;
    }
    const std::string localPath = ExeDir() + LocalFileName(entry.Name);
    // With a signed release, a file changed or damaged on disk is fetched again.
    const bool current = LocalFileExists(localPath) && !NeedsUpdate(localPath, entry.File) &&
                         (!Release || Release->LocalFileMatches(entry.Name, localPath));
    if (current) {
      // In the traditional script a current library still waits for its language companion.
      const bool awaitsCompanion =
          Settings.LangIndex == kLangTraditional && !HasNoCompanion(entry.Name) &&
          !LocalFileExists(ChangeFileExt(localPath, kLanguageCompanionExt));
      if (!awaitsCompanion) {
        DiscardLeftoverDownload(ExeDir(), entry.Name, localPath);
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
      }
    }
    Form.ClearSettingsChanged();
  }
  if (list.empty()) {
    FinishPass();
    return;
  }

  TUpdateSource& source = *Settings.Source;
  source.StartCounters(TotalFileSize(list));
  Synchronize([this] { Form.ShowDownloadWindow(); });
  try {
    source.DownloadList(list);
  } catch (...) {
    Synchronize([this] { Form.HideDownloadWindow(); });
    throw;
  }
  Synchronize([this] { Form.HideDownloadWindow(); });
  if (Release) {
    for (const TFileEntry& entry : list)
      Release->NoteDownloaded(ExeDir() + LocalFileName(entry.Name));
  }
  FinishPass();
}

TUpdateThreadClass RemoteUpdateThreadClass() {
  return [](TSyncThreadOwner& form, TSyncThreadSettings settings) -> std::unique_ptr<TSyncThread> {
    return std::make_unique<TRemoteUpdateThread>(form, std::move(settings));
  };
}

}  // namespace zor
