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

#include "server/manifest_status.h"
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

// Takes what the manifest says into the scan, for each file whose content is the signed one
// (same size and SHA-256): the content's SHA-256 and the manifest's date, so that replicas
// of one release list the same dates and pack the same bytes whatever their file times.
void AdoptManifestFacts(TReleaseSnapshot& snapshot, const TReleaseManifest& manifest,
                        TReleaseDigests& digests);

// The server's watch: judges each scan against the folder's manifest (when there is one),
// takes the manifest's facts into it (AdoptManifestFacts) and logs a warning naming the files
// that differ, again only when that changes.
class TReleaseManifestWatch {
 public:
  // Sets `snapshot.Manifest`; logs to `log` when given.
  void Check(TReleaseSnapshot& snapshot, TServerLog* log);

 private:
  TReleaseDigests Digests;
  std::mutex ReportLock;
  std::optional<std::string> LastReport;
};

}  // namespace zor
