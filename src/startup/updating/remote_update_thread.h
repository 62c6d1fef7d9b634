// The network update worker: asks the application server for its list of client files,
// replaces the launcher itself first when the server holds a newer one (the new launcher is
// started with "/ReCopy" and this process ends), fetches the four configuration files fresh
// at the same time (each replaces the old copy only once it has arrived whole),
// keeps the files that are missing or older (by version, then by file date) and downloads
// them while the start window shows the progress window. Before anything is fetched it checks
// that the client folder can be written; a read-only folder or a full disk ends the pass with
// a message in the user's language.
#pragma once

#include <string>
#include <string_view>

#include "startup/updating/release_verification.h"
#include "startup/updating/sync_thread.h"

namespace zor {

// Libraries that have no traditional-script companion, joined by ";".
inline constexpr std::string_view kNoCompanionFiles =
    "Vcl50.bpl;Vclx50.bpl;Vcldb50.bpl;Vclbde50.bpl;Tee50.bpl;vcljpg50.bpl;vclado50.bpl;midas.dll;"
    "teedb50.bpl;"
    "ZORInterface.tlb;FR_Eng.dll;zint.dll;Microsoft.VC90.CRT.manifest;msvcr90.dll;itextsharp.dll;"
    "PDFEncrypt.dll;"
    "M880CloudClient.dll";
// An entry of this name is never fetched by the launcher.
inline constexpr std::string_view kNeverFetched = "MDAC_TYP";
// The configuration files fetched fresh on every run, in this order.
inline constexpr std::string_view kConfigFiles[] = {"ZORSys.ini", "Special\\ZORSys.ini",
                                                    "DemoLevels.ini", "Patch.xml"};
inline constexpr std::string_view kAreaLibs = "Libs";
inline constexpr std::string_view kAreaInstall = ".";
inline constexpr std::string_view kSwitchReCopyArg = " /ReCopy ";

// True when `name` is in the list of libraries without a companion (any letter case).
bool HasNoCompanion(std::string_view name);

// The version resource of a local file as "a.b.c.d", "0.0.0.0" when it has none.
std::string LocalFileVersion(const std::string& path);

// True when the local file must be fetched: its version is lower than the entry's, or, when
// not, its MS-DOS date/time is smaller than the entry's age.
bool NeedsUpdate(const std::string& localPath, const TFileObject& entry);

class TRemoteUpdateThread : public TSyncThread {
 public:
  using TSyncThread::TSyncThread;

  // Fetches the configuration files fresh into the launcher's folder, at once where the
  // source can; the last one's result. A fetch that fails keeps the old file and fails the
  // pass; a file the server does not hold is removed, unless the signed release holds it:
  // then the pass fails.
  virtual bool DownloadConfigFiles();
  // The self-update: false when the launcher and the cloud client library are current (or
  // could not be fetched); when a newer launcher was fetched, starts it with "/ReCopy" and
  // ends the run with a silent abort.
  bool CheckSelfUpdate();

 protected:
  void GetFileList(TFileList& list) override;
  void UpdateFiles(TFileList& list) override;
  std::optional<uint64_t> InstalledRelease() override;

 private:
  // The two steps of a pass; the overrides above run them and put a full disk's message in
  // the user's language.
  void FetchFileList(TFileList& list);
  void FetchFiles(TFileList& list);
  // The signed-release check of this run, made when first needed.
  TReleaseVerification& ReleaseCheck();
  // End of a pass that succeeded: removes what the signed release dropped, keeps the state.
  void FinishPass();
  // The signed-release check of this run, made at the first pass.
  std::unique_ptr<TReleaseVerification> Release;
};

// `TRemoteUpdateThread` as the class of `SetUpdateThreadClass`.
TUpdateThreadClass RemoteUpdateThreadClass();

}  // namespace zor
