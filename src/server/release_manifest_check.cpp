#include "server/release_manifest_check.h"

#include <set>

#include "base/ascii_case.h"
#include "base/format.h"
#include "platform/dos_time.h"
#include "platform/file_system.h"
#include "platform/open_or_fail.h"
#include "platform/pe_version.h"
#include "update/release_signature.h"

namespace zor {

namespace {

constexpr std::string_view kTag = "Release";

// A file date as administrators read it, not as the wire carries it.
std::string DosTimeText(int32_t age) {
  return DosDateTimeText(static_cast<uint32_t>(age));
}

std::string ReadWholeFile(const std::filesystem::path& path, size_t limit) {
  const std::unique_ptr<PositionedFile> file = OpenOrFail(path.string(), OpenMode::ReadOnly);
  if (file->Size() > static_cast<int64_t>(limit))
    throw EManifestError("The release manifest is not valid: it is too large");
  return ReadRest(*file);
}

}  // namespace

std::string ReleaseFileVersion(const std::string& path) {
  const FileVersionLookup lookup = ReadFileVersion(path);
  return lookup.Version ? lookup.Version->FileVersionText() : std::string();
}

std::string TReleaseDigests::Sha256Of(const TReleaseFile& file) {
  {
    std::lock_guard guard(Lock);
    auto it = ByName.find(file.Name);
    if (it != ByName.end() && it->second.Size == file.Size &&
        it->second.ModifiedNs == file.ModifiedNs)
      return it->second.Sha256;
  }
  const std::string sha = DigestFile(file.Path.string()).Sha256;
  std::lock_guard guard(Lock);
  ByName[file.Name] = Known{file.Size, file.ModifiedNs, sha};
  return sha;
}

std::vector<TManifestFile> ManifestFilesOf(const TReleaseSnapshot& snapshot,
                                           TReleaseDigests& digests) {
  std::vector<TManifestFile> files;
  for (const TReleaseFile& file : snapshot.Files) {
    if (ManifestKey(file.Name) == ManifestKey(kManifestFileName)) continue;
    files.push_back(TManifestFile{file.Name, file.Size, digests.Sha256Of(file), file.Version,
                                  static_cast<int32_t>(file.DosTime)});
  }
  return files;
}

std::vector<std::string> CompareWithManifest(const TReleaseSnapshot& snapshot,
                                             const TReleaseManifest& manifest,
                                             TReleaseDigests& digests) {
  std::vector<std::string> differences;
  std::set<std::string> seen;
  for (const TReleaseFile& file : snapshot.Files) {
    if (ManifestKey(file.Name) == ManifestKey(kManifestFileName)) continue;
    seen.insert(ManifestKey(file.Name));
    const TManifestFile* signed_ = manifest.Find(file.Name);
    if (signed_ == nullptr) {
      differences.push_back(file.Name + ": not in the manifest");
      continue;
    }
    if (file.Size != signed_->Size) {
      differences.push_back(
          Format("%s: %d bytes, the manifest says %d", {file.Name, file.Size, signed_->Size}));
    } else if (digests.Sha256Of(file) != signed_->Sha256) {
      differences.push_back(file.Name + ": its content differs from the manifest (SHA-256)");
    }
    if (file.Version != signed_->Version)
      differences.push_back(Format("%s: version %s, the manifest says %s",
                                   {file.Name, file.Version, signed_->Version}));
    if (static_cast<int32_t>(file.DosTime) != signed_->Age)
      differences.push_back(Format(
          "%s: date %s, the manifest says %s",
          {file.Name, DosTimeText(static_cast<int32_t>(file.DosTime)), DosTimeText(signed_->Age)}));
  }
  for (const TManifestFile& file : manifest.Files) {
    if (!seen.contains(ManifestKey(file.Name)))
      differences.push_back(file.Name + ": in the manifest but not in the folder");
  }
  return differences;
}

std::optional<TReleaseManifest> ReadManifestBody(const std::filesystem::path& root) {
  const std::filesystem::path path = root / std::string(kManifestFileName);
  if (!CurrentFileSystem().IsFile(path.string())) return std::nullopt;
  const std::string text = ReadWholeFile(path, kMaxManifestBytes + kMaxSignatureLine);
  return ParseManifestBody(SplitManifestFile(text).Body);
}

std::string_view ManifestStateName(ManifestState state) {
  switch (state) {
    case ManifestState::Unchecked:
      return "unchecked";
    case ManifestState::None:
      return "none";
    case ManifestState::Matches:
      return "matches";
    case ManifestState::Differs:
      return "differs";
    case ManifestState::Unreadable:
      return "unreadable";
  }
  return "unknown";
}

void AdoptManifestFacts(TReleaseSnapshot& snapshot, const TReleaseManifest& manifest,
                        TReleaseDigests& digests) {
  for (TReleaseFile& file : snapshot.Files) {
    if (ManifestKey(file.Name) == ManifestKey(kManifestFileName)) continue;
    const TManifestFile* signed_ = manifest.Find(file.Name);
    if (signed_ == nullptr || signed_->Size != file.Size) continue;
    std::string sha;
    try {
      sha = digests.Sha256Of(file);
    } catch (const std::exception&) {
      continue;  // unreadable now: the comparison names it
    }
    if (sha != signed_->Sha256) continue;
    file.Sha256 = std::move(sha);
    file.DosTime = static_cast<uint32_t>(signed_->Age);
  }
}

void TReleaseManifestWatch::Check(TReleaseSnapshot& snapshot, TServerLog* log) {
  std::string report;
  LogLevel level = LogLevel::Warning;
  TManifestStatus status;
  status.State = ManifestState::Unreadable;
  try {
    const std::optional<TReleaseManifest> manifest = ReadManifestBody(snapshot.Root);
    if (!manifest) {
      status.State = ManifestState::None;
      report = Format(
          "The release folder has no manifest %s: launchers with a release key will not update",
          {kManifestFileName});
      level = LogLevel::Info;
    } else {
      AdoptManifestFacts(snapshot, *manifest, Digests);
      const std::vector<std::string> differences =
          CompareWithManifest(snapshot, *manifest, Digests);
      status.Counter = manifest->Counter;
      status.Differences = differences.size();
      status.State = differences.empty() ? ManifestState::Matches : ManifestState::Differs;
      if (differences.empty()) {
        report =
            Format("The release folder matches its manifest (release %d)", {manifest->Counter});
        level = LogLevel::Info;
      } else {
        report = Format(
            "The release folder differs from its manifest %s, sign it again (zorrelease sign): ",
            {kManifestFileName});
        for (size_t i = 0; i < differences.size(); ++i) report += (i ? "; " : "") + differences[i];
      }
    }
  } catch (const std::exception& e) {
    report = e.what();
  }
  snapshot.Manifest = status;
  std::lock_guard guard(ReportLock);
  if (LastReport == report) return;
  LastReport = report;
  if (log) log->Write(level, kTag, report);
}

}  // namespace zor
