#include "server/release_folder.h"

#include <algorithm>
#include <limits>

#include "platform/dos_time.h"
#include "update/release_areas.h"
#include "update/request_name.h"

namespace zor {

namespace {

constexpr std::string_view kDefaultVersion = "0.0.0.0";

int64_t ModifiedNsOf(const std::filesystem::directory_entry& entry, std::error_code& error) {
  const auto written = entry.last_write_time(error);
  if (error) return 0;
  const auto system = std::chrono::file_clock::to_sys(written);
  return std::chrono::duration_cast<std::chrono::nanoseconds>(system.time_since_epoch()).count();
}

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
      RootDir(std::filesystem::weakly_canonical(root)),
      ReadVersion(std::move(versionReader)),
      RescanAfter(rescanAfter) {
  for (const auto& path : skip) Skip.push_back(std::filesystem::weakly_canonical(path));
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
    std::filesystem::path resolved = std::filesystem::weakly_canonical(GivenRoot);
    std::lock_guard guard(Lock);
    if (resolved == RootDir) return false;
    RootDir = std::move(resolved);
    // The next scan reports a change even when the new folder holds files of the same names,
    // sizes and times, so that its manifest is checked again.
    Current.reset();
  }
  Rescan();
  return true;
}

std::shared_ptr<const TReleaseSnapshot> TReleaseFolder::Snapshot() {
  {
    std::lock_guard guard(Lock);
    if (Current && std::chrono::steady_clock::now() - ScannedAt < RescanAfter) return Current;
  }
  return Rescan();
}

std::shared_ptr<const TReleaseSnapshot> TReleaseFolder::Rescan() {
  std::lock_guard scanGuard(ScanLock);
  std::shared_ptr<const TReleaseSnapshot> previous;
  std::filesystem::path root;
  {
    std::lock_guard guard(Lock);
    previous = Current;
    root = RootDir;
  }
  auto snapshot = std::make_shared<TReleaseSnapshot>();
  snapshot->Root = root;
  std::error_code error;
  std::filesystem::recursive_directory_iterator it(
      root, std::filesystem::directory_options::skip_permission_denied, error);
  for (; !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const std::filesystem::directory_entry& entry = *it;
    std::error_code entryError;
    // Links are never followed: what they point to may lie outside the release.
    if (entry.is_symlink(entryError)) continue;
    if (entry.is_directory(entryError)) {
      if (std::find(Skip.begin(), Skip.end(), entry.path()) != Skip.end())
        it.disable_recursion_pending();
      continue;
    }
    if (!entry.is_regular_file(entryError)) continue;
    if (IsCopyTemporary(entry.path().filename().string())) continue;
    TReleaseFile file;
    file.Path = entry.path();
    file.Root = root;
    std::string relative = entry.path().lexically_relative(root).generic_string();
    std::replace(relative.begin(), relative.end(), '/', '\\');
    file.Name = relative;
    file.Size = static_cast<int64_t>(entry.file_size(entryError));
    if (entryError) continue;
    file.ModifiedNs = ModifiedNsOf(entry, entryError);
    if (entryError) continue;
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
  bool changed;
  {
    std::lock_guard guard(Lock);
    changed = !Current || !SameFiles(*Current, *snapshot);
    Current = snapshot;
    ScannedAt = std::chrono::steady_clock::now();
  }
  if (changed && OnChange) OnChange(snapshot);
  return snapshot;
}

std::optional<TReleaseFile> TReleaseFolder::Find(std::string_view name, std::string_view area) {
  const TRequestName checked = CheckRequestName(name);
  const std::string key = LowerAscii(AreaFolder(area)) + checked.Key;
  std::shared_ptr<const TReleaseSnapshot> snapshot = Snapshot();
  auto it = snapshot->ByKey.find(key);
  if (it == snapshot->ByKey.end()) return std::nullopt;
  return snapshot->Files[it->second];
}

}  // namespace zor
