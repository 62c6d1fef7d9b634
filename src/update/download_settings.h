// What the download client takes from the client information object, which lives in a
// higher layer: the launcher fills this in at start-up (`SetDownloadSettings`), before the
// first download. Until then the defaults below apply.
#pragma once

#include <cstdint>
#include <string>

namespace zor {

inline constexpr int32_t kDefaultDownloadCapacity = 24;
// How often one file is asked for while servers answer "other release" (release_pass.h): a
// roll-out switches a server within seconds, and a balancer spreads new connections.
inline constexpr int32_t kOtherReleaseAttempts = 20;

struct TDownloadSettings {
  // Count of the transfer semaphore ("DownloadFileCapacity").
  int32_t DownloadCapacity = kDefaultDownloadCapacity;
  // The client's folder with a trailing '/'; empty means the running program's folder.
  std::string InstallDir;
  // The help folder's parent (with a trailing '/'), for the "Help" area; empty means InstallDir.
  std::string HelpFolder;
  // The data folder (with a trailing '/'), where `DownloadOne` clears a file when no base
  // folder is given; empty means InstallDir.
  std::string DataFolder;
  // The marker of the single-file information request: 0 on a client, -1 in a process that
  // hosts an application server.
  int32_t InfoMarker = 0;
  // Whether a changed file may come as a delta against its old copy (delta_fetch.h).
  bool DeltaFetch = true;
  // How often one file is asked for while servers answer "other release" (release_pass.h).
  int32_t OtherReleaseAttempts = kOtherReleaseAttempts;
};

TDownloadSettings GetDownloadSettings();
// Also resizes the transfer semaphore (see `SetTransferCapacity`).
void SetDownloadSettings(const TDownloadSettings& settings);
// InstallDir as set, or the running program's folder.
std::string GetInstallDir();

}  // namespace zor
