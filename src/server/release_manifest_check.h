// The release folder against its signed manifest, from the server's and the publisher's
// side: the manifest entries a folder scan gives (name, size, SHA-256, version and date as
// the file list shows them), and every difference between a scan and a manifest. The server
// only reads the manifest's body; checking its signature is the launcher's part.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/release_folder.h"
#include "server/server_log.h"
#include "update/release_manifest.h"

namespace zor {

// A file's version the way the file service reads it ("" without a version resource).
std::string ReleaseFileVersion(const std::string& path);

// SHA-256 of release files, kept while a file's size and modification time stay the same,
// so that a rescan hashes only what changed.
class TReleaseDigests {
 public:
  std::string Sha256Of(const TReleaseFile& file);

 private:
  struct Known {
    int64_t Size = 0;
    int64_t ModifiedNs = 0;
    std::string Sha256;
  };
  std::mutex Lock;
  std::map<std::string, Known> ByName;
};

// The manifest entries of a scan, in its order: every file but the manifest itself.
std::vector<TManifestFile> ManifestFilesOf(const TReleaseSnapshot& snapshot,
                                           TReleaseDigests& digests);

// Every difference, one line per file and fact, naming the file: files not in the manifest,
// files of the manifest missing from the folder, and other size, content, version or date.
std::vector<std::string> CompareWithManifest(const TReleaseSnapshot& snapshot,
                                             const TReleaseManifest& manifest,
                                             TReleaseDigests& digests);

// Reads the body of the manifest in `root`; nothing when there is none. Raises
// `EManifestError` for one that cannot be read.
std::optional<TReleaseManifest> ReadManifestBody(const std::filesystem::path& root);

// How the folder stood against its manifest at the last check.
enum class ManifestState {
  Unchecked,   // no scan was checked yet
  None,        // the folder has no manifest
  Matches,     // every file as the manifest says
  Differs,     // some file differs (or is missing, or extra)
  Unreadable,  // the manifest cannot be read
};
// The state as the metrics label it ("matches").
std::string_view ManifestStateName(ManifestState state);

struct TManifestStatus {
  ManifestState State = ManifestState::Unchecked;
  uint64_t Counter = 0;  // the manifest's release counter, when it could be read
  size_t Differences = 0;
};

// The server's watch: after each scan it compares the folder with its manifest (when there
// is one) and logs a warning naming the files that differ, again only when that changes.
class TReleaseManifestWatch {
 public:
  void Check(const std::filesystem::path& root, const TReleaseSnapshot& snapshot, TServerLog& log);
  // The outcome of the last check; read from any thread.
  TManifestStatus Status() const;

 private:
  TReleaseDigests Digests;
  std::optional<std::string> LastReport;
  mutable std::mutex StatusLock;
  TManifestStatus LastStatus;
};

}  // namespace zor
