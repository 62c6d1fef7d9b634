// The file service: the server side of the launcher's update. It answers the file list
// (0xA202), the file information in plain and packed form (0xA209, 0xA20D), the file data in
// both forms from any position (0xA20A, 0xA20E), both in one reply (0xA215, 0xA216) and
// uploads (0xA214), from a release folder
// laid out like a client folder. Packed files are built once per file version (ahead of
// time at start, or on first request; pack_scheduler.h) and kept in a cache folder.
//
// An upload needs a logged-on session and lands below the upload folder (area folder, then
// the checked name; upload_store.h) only when its data arrived complete and within its limits.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "server/delta_command.h"
#include "server/pack_cache.h"
#include "server/pack_scheduler.h"
#include "server/release_folder.h"
#include "server/release_manifest_check.h"
#include "server/server_limits.h"
#include "server/upload_store.h"
#include "server/zor_service.h"
#include "update/file_service_commands.h"

namespace zor {

// How often a running file service looks at its release folder without being asked.
inline constexpr uint32_t kReleaseWatchIntervalMs = 2000;
// Piece size of the packed data stream.
inline constexpr size_t kPackedStreamPiece = 16384;
// How long the rest of a refused upload is read and dropped before the connection is
// closed: closing on unread data would reset the link and lose the refusal on its way to
// the client. A client that stops sending and closes its end ends the wait sooner.
inline constexpr std::chrono::seconds kUploadDrainLimit{10};

struct TFileServiceSettings {
  std::filesystem::path ReleaseDir;
  std::filesystem::path CacheDir;
  std::optional<std::filesystem::path> UploadDir;  // uploads are refused without one
  int64_t UploadLimit = kDefaultUploadLimit;
  // Files and bytes that one folder below the upload folder may hold.
  int64_t UploadFolderFiles = kDefaultUploadFolderFiles;
  int64_t UploadFolderBytes = kDefaultUploadFolderBytes;
  bool PackAhead = true;  // pack every listed file in the background when the service starts
  // Answer the delta fetch (0xA220); without, the command is unknown, as to an older server.
  bool ServeDeltas = true;
  int Level = -1;  // zlib level of packed files
  // Reads a file's version ("" when it has none); the PE version reader when empty.
  TReleaseFolder::VersionReader VersionReader;
};

class TFileService : public TZORService {
 public:
  TFileService(TZORServer* server, TFileServiceSettings settings);
  ~TFileService() override;
  const char* ClassName() const override { return "TFileService"; }

  TReleaseFolder& Release() { return Folder; }
  TPackCache& Packs() { return Cache; }
  // Bytes of file data (plain or packed) sent to clients since the start.
  int64_t BytesServed() const { return Served.load(); }
  const TDeltaCommand& DeltaFetch() const { return Deltas; }
  // How the release folder stood against its manifest at the last scan (a scan held back
  // included: the folder on disk is what readiness reports).
  TManifestStatus Manifest() const { return Folder.LatestVerdict(); }
  // True while a scan of the release waits to be packed ahead or is being packed.
  bool Packing();

 protected:
  void DoStart() override;
  void DoStop() override;
  // Looks at the folder again every kReleaseWatchInterval, so that the manifest state and
  // the packing ahead follow a changed release even while no client asks.
  void DoTimer() override;

 private:
  void FileList(TServiceMessage& message);
  void FileInfo(TServiceMessage& message, bool packed);
  void FileData(TServiceMessage& message, bool packed);
  // The information and, when the client's partial copy is of the same file, the data from
  // its position (else from 0), in one reply.
  void FileFetch(TServiceMessage& message, bool packed);
  void Upload(TServiceMessage& message);
  TPackedFile Packed(const TReleaseFile& file, TServerCall* call);

  TFileServiceSettings Settings;
  TReleaseManifestWatch ManifestWatch;  // before the folder, whose scans it watches
  TReleaseFolder Folder;
  TPackCache Cache;
  TPackScheduler Packer;
  std::atomic<uint64_t> UploadCounter{0};
  std::atomic<int64_t> Served{0};
  TUploadFolders UploadFolders;
  TDeltaCommand Deltas;
};

}  // namespace zor
