// The release folder the file service serves: a scan of every regular file below it (never
// following links out of it, leaving out files a copy still writes under rsync's temporary
// names ".name.XXXXXX"), with version, MS-DOS time and size, in a stable order, and
// the lookup of a requested name in an area. Scans are reused for a short while and
// versions are read again only for files that changed. The folder's path may be a link (a
// versioned folder behind "current"): it is resolved at the start and again on request, so
// switching the link changes what is served only when the administrator says so.
//
// Each scan is judged against the folder's manifest before it is published, and the verdict
// travels with the scan: one request reads the file list and the verdict together, never a
// new list with an old verdict. A scan that does not match its manifest never replaces one
// that did: a release being copied over the served one (half old, half new) is held back,
// and the served scan stays until a later scan matches again (or the path is resolved again).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "server/manifest_status.h"
#include "update/release_listing.h"

namespace zor {

struct TReleaseFile {
  std::string Name;  // relative name with '\' separators, as the file list names it
  std::filesystem::path Path;
  std::filesystem::path Root;  // the resolved release folder the scan found it in
  int64_t Size = 0;
  int64_t ModifiedNs = 0;
  // The date the list shows: the file's own time, or the manifest's date of the file when
  // its content is the signed one (so every replica of a release lists the same dates).
  uint32_t DosTime = 0;
  std::string Version;  // "0.0.0.0" when the file has no version resource
  // False for files that the list leaves out: language companions (fetched through the
  // "LangDll" area with their library), names the list cannot carry, files over 2 GiB.
  bool Listed = true;
  // SHA-256 of the content (hexadecimal) when the manifest check read it; empty otherwise.
  std::string Sha256;
};

// The files of one scan, ordered by name without case.
struct TReleaseSnapshot {
  std::filesystem::path Root;  // the resolved release folder that was scanned
  std::vector<TReleaseFile> Files;
  std::map<std::string, size_t> ByKey;  // lower-case name -> index
  // How these very files stood against the folder's manifest when they were scanned.
  TManifestStatus Manifest;

  // The file that `name` names in `area`; null when there is none. Raises `Exception` for a
  // name that is not a plain relative name (see request_name.h).
  const TReleaseFile* Find(std::string_view name, std::string_view area) const;
};

class TReleaseFolder {
 public:
  using VersionReader = std::function<std::string(const std::string& path)>;

  // `skip` lists folders below the root to leave out (the pack cache, the upload folder).
  TReleaseFolder(std::filesystem::path root, VersionReader versionReader,
                 std::vector<std::filesystem::path> skip = {},
                 std::chrono::milliseconds rescanAfter = std::chrono::seconds(2));

  // The resolved folder the current files lie in.
  std::filesystem::path Root() const;
  // Resolves the path given at the start again (a link may point elsewhere now) and scans
  // the folder it names. True when the folder changed.
  bool ResolveAgain();
  // The current files, scanning again when the last scan is older than `rescanAfter` (on
  // the process clock) and no other thread is scanning.
  std::shared_ptr<const TReleaseSnapshot> Snapshot();
  // Scans now.
  std::shared_ptr<const TReleaseSnapshot> Rescan();
  // Judges a scan that found other files than the one before against the manifest, before
  // it is published: sets `Manifest` and may fill in each file's `Sha256` and `DosTime`. On
  // the scanning thread, one scan at a time. Without it every scan stays Unchecked.
  std::function<void(TReleaseSnapshot&)> Verify;
  // Called after a scan that found other files than the one before (the first scan too) is
  // published, on the scanning thread, one scan at a time. Set before the first scan.
  std::function<void(const std::shared_ptr<const TReleaseSnapshot>&)> OnChange;
  // Called when a changed scan is first held back (it does not match its manifest while the
  // served one does); `held` is that scan, `served` the one that stays.
  std::function<void(const TReleaseSnapshot& held, const TReleaseSnapshot& served)> OnHold;
  // The verdict of the latest scan, served or held back.
  TManifestStatus LatestVerdict() const;
  // Whether the latest scan is held back.
  bool Holding() const;
  // The file that `name` names in `area`; nothing when there is none. Raises `Exception`
  // for a name that is not a plain relative name (see request_name.h).
  std::optional<TReleaseFile> Find(std::string_view name, std::string_view area);

 private:
  // Scans with ScanLock held.
  std::shared_ptr<const TReleaseSnapshot> ScanLocked();

  std::filesystem::path GivenRoot;
  std::filesystem::path RootDir;  // guarded by Lock; changed only under ScanLock
  VersionReader ReadVersion;
  std::vector<std::filesystem::path> Skip;
  std::chrono::milliseconds RescanAfter;
  std::mutex ScanLock;  // one scan at a time
  mutable std::mutex Lock;
  std::shared_ptr<const TReleaseSnapshot> Current;  // the published scan
  // The latest scan, published or held back; guarded by Lock.
  std::shared_ptr<const TReleaseSnapshot> Latest;
  std::chrono::steady_clock::time_point ScannedAt;
};

}  // namespace zor
