#include "server/release_folder.h"

#include <algorithm>
#include <limits>

#include "base/clock.h"
#include "platform/directories.h"
#include "platform/dos_time.h"
#include "platform/file_system.h"
#include "update/release_areas.h"
#include "update/request_name.h"

namespace zor {

namespace {

constexpr std::string_view kDefaultVersion = "0.0.0.0";

// A file a copy is still writing under a temporary name, as rsync does (".name.XXXXXX"): it
// is renamed to its own name when complete, and must never be listed or hashed meanwhile.
bool IsCopyTemporary(const std::string& fileName) {
  constexpr size_t kMark = 6;
  if (fileName.size() < kMark + 3 || fileName[0] != '.') return false;
  const size_t dot = fileName.rfind('.');
  if (dot == 0 || dot + kMark + 1 != fileName.size()) return false;
  for (size_t i = dot + 1; i < fileName.size(); ++i) {
    const char c = fileName[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
  }
  return true;
}

int64_t FloorDiv(int64_t value, int64_t by) {
  return value / by - (value % by < 0 ? 1 : 0);
}

}  // namespace

TReleaseFolder::TReleaseFolder(std::filesystem::path root, VersionReader versionReader,
                               std::vector<std::filesystem::path> skip,
                               std::chrono::milliseconds rescanAfter)
    : GivenRoot(root),
      RootDir(WeaklyCanonicalPath(root.string())),
      ReadVersion(std::move(versionReader)),
      RescanAfter(rescanAfter) {
  for (const auto& path : skip) Skip.push_back(WeaklyCanonicalPath(path.string()));
}

namespace {

bool SameFiles(const TReleaseSnapshot& a, const TReleaseSnapshot& b) {
  if (a.Files.size() != b.Files.size()) return false;
  for (size_t i = 0; i < a.Files.size(); ++i) {
    const TReleaseFile& x = a.Files[i];
    const TReleaseFile& y = b.Files[i];
    if (x.Name != y.Name || x.Size != y.Size || x.ModifiedNs != y.ModifiedNs) return false;
  }
  return true;
}

}  // namespace

std::filesystem::path TReleaseFolder::Root() const {
  std::lock_guard guard(Lock);
  return RootDir;
}

bool TReleaseFolder::ResolveAgain() {
  {
    std::lock_guard scanGuard(ScanLock);
    std::filesystem::path resolved = WeaklyCanonicalPath(GivenRoot.string());
    std::lock_guard guard(Lock);
    if (resolved == RootDir) return false;
    RootDir = std::move(resolved);
    // The next scan reports a change even when the new folder holds files of the same names,
    // sizes and times, so that its manifest is checked again; and it is published whatever
    // its verdict, since the administrator asked for this folder.
    Current.reset();
    Latest.reset();
  }
  Rescan();
  return true;
}

std::shared_ptr<const TReleaseSnapshot> TReleaseFolder::Snapshot() {
  {
    std::lock_guard guard(Lock);
    if (Current && GetClock().Now() - ScannedAt < RescanAfter) return Current;
  }
  // While another thread scans (and hashes what changed), requests are answered from the
  // published scan instead of waiting for it.
  std::unique_lock scanGuard(ScanLock, std::try_to_lock);
  if (!scanGuard.owns_lock()) {
    std::lock_guard guard(Lock);
    if (Current) return Current;
  }
  if (!scanGuard.owns_lock()) scanGuard.lock();
  return ScanLocked();
}

std::shared_ptr<const TReleaseSnapshot> TReleaseFolder::Rescan() {
  std::lock_guard scanGuard(ScanLock);
  return ScanLocked();
}

std::shared_ptr<const TReleaseSnapshot> TReleaseFolder::ScanLocked() {
  std::shared_ptr<const TReleaseSnapshot> previous, served;
  std::filesystem::path root;
  {
    std::lock_guard guard(Lock);
    previous = Latest;
    served = Current;
    root = RootDir;
  }
  auto snapshot = std::make_shared<TReleaseSnapshot>();
  snapshot->Root = root;
  FileSystem& files = CurrentFileSystem();
  // Every folder below the root but the skipped ones; one that cannot be listed is left out.
  std::vector<std::filesystem::path> folders = {root};
  std::vector<std::pair<std::filesystem::path, FileStatus>> found;
  while (!folders.empty()) {
    const std::filesystem::path folder = std::move(folders.back());
    folders.pop_back();
    std::vector<std::string> names;
    try {
      names = files.List(folder.string());
    } catch (const EFileSystemError&) {
      continue;
    }
    for (const std::string& name : names) {
      const std::filesystem::path path = folder / name;
      std::optional<FileStatus> status;
      try {
        // Links are never followed: what they point to may lie outside the release.
        status = files.Stat(path.string(), FollowLinks::No);
      } catch (const EFileSystemError&) {
        continue;
      }
      if (!status) continue;
      if (status->Kind == FileKind::Directory) {
        if (std::find(Skip.begin(), Skip.end(), path) == Skip.end()) folders.push_back(path);
      } else if (status->Kind == FileKind::Regular && !IsCopyTemporary(name)) {
        found.emplace_back(path, *status);
      }
    }
  }
  for (auto& [path, status] : found) {
    TReleaseFile file;
    file.Path = path;
    file.Root = root;
    std::string relative = path.lexically_relative(root).generic_string();
    std::replace(relative.begin(), relative.end(), '/', '\\');
    file.Name = relative;
    file.Size = status.Size;
    file.ModifiedNs = status.ModifiedNs;
    file.DosTime = UnixTimeToDosDateTimeClamped(FloorDiv(file.ModifiedNs, 1'000'000'000));
    file.Listed = IsListedReleaseFile(file.Name, file.Size);
    // The version of an unchanged file is taken from the previous scan.
    const std::string key = LowerAscii(file.Name);
    bool known = false;
    if (previous) {
      auto old = previous->ByKey.find(key);
      if (old != previous->ByKey.end()) {
        const TReleaseFile& before = previous->Files[old->second];
        if (before.Size == file.Size && before.ModifiedNs == file.ModifiedNs) {
          file.Version = before.Version;
          known = true;
        }
      }
    }
    if (!known) {
      try {
        file.Version = ReadVersion ? ReadVersion(file.Path.string()) : std::string();
      } catch (...) {
        file.Version.clear();
      }
      if (file.Version.empty()) file.Version = kDefaultVersion;
    }
    snapshot->Files.push_back(std::move(file));
  }
  std::sort(snapshot->Files.begin(), snapshot->Files.end(),
            [](const TReleaseFile& a, const TReleaseFile& b) {
              const std::string ka = LowerAscii(a.Name), kb = LowerAscii(b.Name);
              return ka != kb ? ka < kb : a.Name < b.Name;
            });
  for (size_t i = 0; i < snapshot->Files.size(); ++i)
    snapshot->ByKey.emplace(LowerAscii(snapshot->Files[i].Name), i);
  const bool changed = !previous || !SameFiles(*previous, *snapshot);
  if (!changed) {
    // The same files as the latest scan: the same verdict, and the same choice of what is
    // served (a held-back scan stays held back).
    std::lock_guard guard(Lock);
    ScannedAt = GetClock().Now();
    return Current;
  }
  if (Verify) Verify(*snapshot);
  const bool hold = served && served->Manifest.State == ManifestState::Matches &&
                    snapshot->Manifest.State != ManifestState::Matches;
  bool firstHold = false;
  {
    std::lock_guard guard(Lock);
    firstHold = hold && Latest == Current;
    Latest = snapshot;
    if (!hold) Current = snapshot;
    ScannedAt = GetClock().Now();
  }
  if (hold) {
    if (firstHold && OnHold) OnHold(*snapshot, *served);
    return served;
  }
  if (OnChange) OnChange(snapshot);
  return snapshot;
}

TManifestStatus TReleaseFolder::LatestVerdict() const {
  std::lock_guard guard(Lock);
  return Latest ? Latest->Manifest : TManifestStatus{};
}

bool TReleaseFolder::Holding() const {
  std::lock_guard guard(Lock);
  return Latest != Current;
}

const TReleaseFile* TReleaseSnapshot::Find(std::string_view name, std::string_view area) const {
  const TRequestName checked = CheckRequestName(name);
  const std::string key = LowerAscii(AreaFolder(area)) + checked.Key;
  auto it = ByKey.find(key);
  return it == ByKey.end() ? nullptr : &Files[it->second];
}

std::optional<TReleaseFile> TReleaseFolder::Find(std::string_view name, std::string_view area) {
  const std::shared_ptr<const TReleaseSnapshot> snapshot = Snapshot();
  const TReleaseFile* file = snapshot->Find(name, area);
  if (!file) return std::nullopt;
  return *file;
}

}  // namespace zor
