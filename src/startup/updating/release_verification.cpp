#include "startup/updating/release_verification.h"

#include <chrono>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>

#include "base/clock.h"
#include "base/format.h"
#include "platform/contained_files.h"
#include "platform/directories.h"
#include "platform/file_system.h"
#include "platform/open_or_fail.h"
#include "update/release_listing.h"
#include "update/release_pass.h"
#include "update/release_signature.h"
#include "update/request_name.h"

namespace zor {

namespace {

using Json = nlohmann::json;

// The state holds the keys and the names of the accepted release's files; a manifest of that
// many names fits.
constexpr size_t kMaxStateBytes = kMaxManifestBytes;

std::string ReadLimited(const std::string& path, size_t limit) {
  const std::unique_ptr<PositionedFile> file = OpenOrFail(path, OpenMode::ReadOnly);
  const int64_t size = file->Size();
  if (size < 0 || size > static_cast<int64_t>(limit)) throw EManifestError("The file is too large");
  return ReadRest(*file);
}

std::string TwoDigits(unsigned value) {
  return (value < 10 ? "0" : "") + std::to_string(value);
}

// "2026-12-10 15:57" for seconds since 1970.
std::string UtcText(int64_t seconds) {
  const auto days = std::chrono::floor<std::chrono::days>(
      std::chrono::sys_seconds(std::chrono::seconds(seconds)));
  const std::chrono::year_month_day date(days);
  const auto minutes = (seconds - days.time_since_epoch().count() * 86400) / 60;
  return std::to_string(static_cast<int>(date.year())) + "-" +
         TwoDigits(static_cast<unsigned>(date.month())) + "-" +
         TwoDigits(static_cast<unsigned>(date.day())) + " " +
         TwoDigits(static_cast<unsigned>(minutes / 60)) + ":" +
         TwoDigits(static_cast<unsigned>(minutes % 60));
}

std::string InstalledManifestPath(const std::string& stateFile) {
  const size_t slash = stateFile.find_last_of('/');
  return (slash == std::string::npos ? std::string() : stateFile.substr(0, slash + 1)) +
         std::string(kInstalledManifestFileName);
}

}  // namespace

TReleaseState ReadReleaseState(const std::string& path) {
  TReleaseState state;
  try {
    const std::optional<std::string> text = ReadTrustedOwnFile(path, kMaxStateBytes);
    if (!text) return state;
    const Json json = Json::parse(*text);
    state.Counter = json.at("Counter").get<uint64_t>();
    state.RootKey = json.at("RootKey").get<std::string>();
    state.CurrentKey = json.at("CurrentKey").get<std::string>();
    state.NextKey = json.value("NextKey", std::string());
    if (json.contains("Files")) state.Files = json.at("Files").get<std::vector<std::string>>();
    if (json.contains("Pending"))
      state.Pending = json.at("Pending").get<std::vector<std::string>>();
  } catch (const std::exception&) {
    return TReleaseState{};
  }
  return state;
}

void WriteReleaseState(const std::string& path, const TReleaseState& state) {
  const Json json{{"Counter", state.Counter},       {"RootKey", state.RootKey},
                  {"CurrentKey", state.CurrentKey}, {"NextKey", state.NextKey},
                  {"Files", state.Files},           {"Pending", state.Pending}};
  ReplaceOptions options;
  options.Permissions = kPrivateFileMode;
  CurrentFileSystem().WriteFileAtomic(path, json.dump() + "\n", options);
}

void NoteUnverifiedRelease(std::string_view releaseKey) {
  if (releaseKey.empty()) std::cerr << "[release] " << kReleaseNotVerifiedLine << "\n";
}

TReleaseVerification::TReleaseVerification(std::string releaseKey, std::string stateFile,
                                           int langIndex, std::string hashCacheFile)
    : ReleaseKey(std::move(releaseKey)),
      StateFile(std::move(stateFile)),
      HashCacheFile(std::move(hashCacheFile)),
      Lang(langIndex) {}

std::vector<TPublicKey> TReleaseVerification::TrustedKeys(const TReleaseState& state) const {
  // A state that descends from another "ReleaseKey" is not used: the setting starts over.
  if (state.RootKey != ReleaseKey || state.CurrentKey.empty()) return {DecodePublicKey(ReleaseKey)};
  std::vector<TPublicKey> keys{DecodePublicKey(state.CurrentKey)};
  if (!state.NextKey.empty()) keys.push_back(DecodePublicKey(state.NextKey));
  return keys;
}

void TReleaseVerification::Prepare(TUpdateSource& source, const std::string& stagingFolder,
                                   int64_t nowSeconds) {
  HasAccepted = false;
  if (!Enabled()) {
    SetReleaseGuard(nullptr);
    return;
  }
  // Until the manifest is verified, it is the only file that may be fetched.
  Guard = std::make_shared<TReleaseGuard>(Lang);
  SetReleaseGuard(Guard);
  const std::string folder = IncludeTrailingPathDelimiter(stagingFolder);
  const std::string path = folder + std::string(kManifestFileName);
  for (int attempt = 1;; ++attempt) {
    const bool found = source.DownloadOne(std::string(kManifestFileName),
                                          std::string(kManifestArea), true, folder) &&
                       FileExists(path);
    if (!found) Guard->Refuse(TReleaseText::NoManifest);
    std::string text;
    try {
      text = ReadLimited(path, kMaxManifestBytes + kMaxSignatureLine);
    } catch (const std::exception& e) {
      Guard->Refuse(TReleaseText::DamagedManifest, e.what());
    }
    CurrentFileSystem().RemoveIfPresent(path);
    try {
      Accept(text, nowSeconds);
      return;
    } catch (const EReleaseRefused&) {
      if (!OfferedOlder || attempt >= kOlderReleaseAttempts) throw;
    }
    // An older release is not a reason to fail the pass while another server may have the
    // newer one: the manifest, and with it the list, is asked for on a new connection.
    source.ResetClient();
    GetClock().SleepFor(std::chrono::milliseconds(OtherReleaseWaitMs(attempt + 1)));
  }
}

void TReleaseVerification::Accept(std::string_view manifestText, int64_t nowSeconds) {
  HasAccepted = false;
  OfferedOlder = false;
  Guard = std::make_shared<TReleaseGuard>(Lang);
  SetReleaseGuard(Guard);
  const TReleaseState state = ReadReleaseState(StateFile);
  // What a failed pass of this run installed belongs to no accepted release either: a
  // release that drops it removes it too, so the folder ends as exactly one release.
  PreviousFiles = state.Files;
  PreviousFiles.insert(PreviousFiles.end(), state.Pending.begin(), state.Pending.end());
  PreviousFiles.insert(PreviousFiles.end(), TriedFiles.begin(), TriedFiles.end());
  // A "ReleaseKey" the administrator changed starts the counter again: the old counter may
  // come from a compromised key that signed a release far ahead.
  const uint64_t acceptedCounter = state.RootKey == ReleaseKey ? state.Counter : 0;
  std::vector<TPublicKey> trusted;
  try {
    trusted = TrustedKeys(state);
  } catch (const ESignatureError&) {
    Guard->Refuse(TReleaseText::InvalidKey);
  }
  TVerifiedManifest verified;
  try {
    verified = OpenSignedManifest(manifestText, trusted);
  } catch (const ESignatureError&) {
    Guard->Refuse(TReleaseText::UntrustedManifest);
  } catch (const EManifestError& e) {
    Guard->Refuse(TReleaseText::DamagedManifest, e.what());
  }
  const TReleaseManifest& manifest = verified.Manifest;
  OfferedOlder = manifest.Counter < acceptedCounter;
  if (OfferedOlder)
    throw EReleaseRefused(
        Format(ReleaseTextIn(Lang, TReleaseText::Rollback), {manifest.Counter, acceptedCounter}));
  if (manifest.Expires <= nowSeconds)
    Guard->Refuse(TReleaseText::Expired, UtcText(manifest.Expires));
  if (!manifest.NextKey.empty()) {
    try {
      DecodePublicKey(manifest.NextKey);
    } catch (const ESignatureError&) {
      Guard->Refuse(TReleaseText::DamagedManifest, "NextKey");
    }
  }
  Accepted = TReleaseState{manifest.Counter, ReleaseKey, EncodeBase64(verified.SignedBy),
                           manifest.NextKey, {},         {}};
  for (const TManifestFile& file : manifest.Files) Accepted.Files.push_back(file.Name);
  AcceptedText = std::string(manifestText);
  HasAccepted = true;
  TriedFiles.insert(TriedFiles.end(), Accepted.Files.begin(), Accepted.Files.end());
  NotePending(state);
  Guard = std::make_shared<TReleaseGuard>(manifest, Lang);
  SetReleaseGuard(Guard);
}

void TReleaseVerification::CheckList(TFileList& list) const {
  if (!Guard || !Guard->HasManifest()) return;
  const TReleaseManifest& manifest = Guard->Manifest();
  std::erase_if(list, [](const TFileEntry& entry) {
    return ManifestKey(entry.Name) == ManifestKey(kManifestFileName);
  });
  std::set<std::string> listed;
  for (const TFileEntry& entry : list) {
    const TManifestFile* signed_ = manifest.Find(entry.Name);
    if (signed_ == nullptr) Guard->Refuse(TReleaseText::NotInManifest, entry.Name);
    if (entry.File.Version != signed_->Version || entry.File.FileAge != signed_->Age)
      Guard->Refuse(TReleaseText::ListDiffers, entry.Name);
    listed.insert(ManifestKey(entry.Name));
  }
  // A list that leaves a signed file out would keep an older copy of it in use.
  for (const TManifestFile& file : manifest.Files) {
    if (!IsListedReleaseFile(file.Name, file.Size)) continue;
    if (!listed.contains(ManifestKey(file.Name)))
      Guard->Refuse(TReleaseText::LeftOutOfList, file.Name);
  }
}

bool TReleaseVerification::Signs(std::string_view releaseName) const {
  return HasManifest() && Guard->Manifest().Find(releaseName) != nullptr;
}

std::vector<std::string> TReleaseVerification::RemoveDroppedFiles(
    const std::string& clientFolder, const std::vector<std::string>& keep) {
  std::vector<std::string> removed;
  if (!HasManifest()) return removed;
  std::set<std::string> kept;
  for (const std::string& name : keep) kept.insert(ManifestKey(name));
  for (const std::string& name : PreviousFiles) {
    if (Signs(name) || kept.contains(ManifestKey(name))) continue;
    std::string relative;
    try {
      relative = CheckRequestName(name).Relative;
    } catch (const std::exception&) {
      continue;  // never a name outside the folder
    }
    // Walks from the folder without following links: a link is removed itself, never what
    // it (or a folder on the way) points to.
    if (DeleteFileBelow(clientFolder, relative)) removed.push_back(name);
  }
  return removed;
}

TCachedFileDigests& TReleaseVerification::LocalDigests() {
  if (!Digests) {
    Digests.emplace(HashCacheFile.empty() ? TReleaseHashCache{}
                                          : TReleaseHashCache::Load(HashCacheFile));
  }
  return *Digests;
}

bool TReleaseVerification::LocalFileMatches(std::string_view name, const std::string& path) {
  if (!Guard || !Guard->HasManifest()) return true;
  if (Guard->Manifest().Find(name) == nullptr) return false;
  try {
    return Guard->MatchesDigest(name, LocalDigests().Digest(path));
  } catch (const std::exception&) {
    return false;  // an unreadable file is fetched again
  }
}

void TReleaseVerification::NoteDownloaded(const std::string& path) {
  if (!Guard || !Guard->HasManifest()) return;
  const std::optional<FileIdentity> identity = ReadFileIdentity(path);
  if (!identity) return;
  if (const std::optional<std::string> sha = Guard->VerifiedSha256(*identity))
    LocalDigests().Note(path, *identity, *sha);
}

void TReleaseVerification::Commit() {
  if (!HasAccepted) return;
  // The manifest first: a state whose counter the kept manifest does not carry starts nothing
  // without an update, so an interruption between the two writes is safe.
  ReplaceOptions options;
  options.Permissions = kPrivateFileMode;
  CurrentFileSystem().WriteFileAtomic(InstalledManifestPath(StateFile), AcceptedText, options);
  WriteReleaseState(StateFile, Accepted);
  HasAccepted = false;
  TriedFiles.clear();
  if (HashCacheFile.empty() || !Digests) return;
  try {
    Digests->Seen().Save(HashCacheFile);
  } catch (const std::exception&) {
    // Without the cache the next start reads every file again; the pass itself succeeded.
  }
}

void TReleaseVerification::NotePending(TReleaseState committed) {
  // Only beside a release committed under this key: without one nothing is started in place.
  if (committed.RootKey != ReleaseKey || committed.CurrentKey.empty()) return;
  std::set<std::string> known;
  for (const std::string& name : committed.Files) known.insert(ManifestKey(name));
  for (const std::string& name : committed.Pending) known.insert(ManifestKey(name));
  bool added = false;
  for (const std::string& name : Accepted.Files) {
    if (!known.insert(ManifestKey(name)).second) continue;
    committed.Pending.push_back(name);
    added = true;
  }
  if (added) WriteReleaseState(StateFile, committed);
}

std::optional<uint64_t> TReleaseVerification::InstalledRelease(
    const std::string& clientFolder, const std::vector<std::string>& notInstalled) {
  if (!Enabled()) return std::nullopt;
  const TReleaseState state = ReadReleaseState(StateFile);
  if (state.RootKey != ReleaseKey || state.CurrentKey.empty()) return std::nullopt;
  TVerifiedManifest committed;
  try {
    const std::optional<std::string> text =
        ReadTrustedOwnFile(InstalledManifestPath(StateFile), kMaxManifestBytes + kMaxSignatureLine);
    if (!text) return std::nullopt;
    const std::vector<TPublicKey> key{DecodePublicKey(state.CurrentKey)};
    committed = OpenSignedManifest(*text, key);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  // A kept manifest of another release than the state names is not the one committed last.
  // Its expiry does not matter here: it bounds what a server may offer, not what is installed.
  if (committed.Manifest.Counter != state.Counter) return std::nullopt;
  std::set<std::string> skipped;
  for (const std::string& name : notInstalled) skipped.insert(ManifestKey(name));
  skipped.insert(ManifestKey(kManifestFileName));
  const auto localPath = [&clientFolder](const std::string& name) -> std::optional<std::string> {
    try {
      return IncludeTrailingPathDelimiter(clientFolder) + CheckRequestName(name).Relative;
    } catch (const std::exception&) {
      return std::nullopt;
    }
  };
  std::set<std::string> signedNames;
  for (const TManifestFile& file : committed.Manifest.Files) {
    signedNames.insert(ManifestKey(file.Name));
    if (!IsListedReleaseFile(file.Name, file.Size) || skipped.contains(ManifestKey(file.Name)))
      continue;
    const std::optional<std::string> path = localPath(file.Name);
    if (!path) return std::nullopt;
    try {
      const TFileDigest digest = LocalDigests().Digest(*path);
      if (digest.Size != file.Size || digest.Sha256 != file.Sha256) return std::nullopt;
    } catch (const std::exception&) {
      return std::nullopt;  // missing or unreadable
    }
  }
  // A newer release that a failed pass began to install leaves files the committed one does
  // not hold: then the folder is neither release.
  std::vector<std::string> newer = state.Pending;
  newer.insert(newer.end(), TriedFiles.begin(), TriedFiles.end());
  for (const std::string& name : newer) {
    if (signedNames.contains(ManifestKey(name))) continue;
    const std::optional<std::string> path = localPath(name);
    if (path && CurrentFileSystem().Stat(*path, FollowLinks::No)) return std::nullopt;
  }
  Guard = std::make_shared<TReleaseGuard>(committed.Manifest, Lang);
  SetReleaseGuard(Guard);
  return committed.Manifest.Counter;
}

}  // namespace zor
