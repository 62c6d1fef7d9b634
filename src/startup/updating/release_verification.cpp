#include "startup/updating/release_verification.h"

#include <chrono>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "base/format.h"
#include "platform/directories.h"
#include "platform/file_open.h"
#include "update/release_signature.h"

namespace zor {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// The state file is a few hundred bytes; anything larger is not ours.
constexpr size_t kMaxStateBytes = 4096;

std::string ReadLimited(const std::string& path, size_t limit) {
  File file = OpenFileOrFail(path, FileAccess::Read);
  const int64_t size = file.Size();
  if (size < 0 || size > static_cast<int64_t>(limit)) throw EManifestError("The file is too large");
  return file.ReadToEnd();
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

}  // namespace

TReleaseState ReadReleaseState(const std::string& path) {
  TReleaseState state;
  try {
    const Json json = Json::parse(ReadLimited(path, kMaxStateBytes));
    state.Counter = json.at("Counter").get<uint64_t>();
    state.RootKey = json.at("RootKey").get<std::string>();
    state.CurrentKey = json.at("CurrentKey").get<std::string>();
    state.NextKey = json.value("NextKey", std::string());
  } catch (const std::exception&) {
    return TReleaseState{};
  }
  return state;
}

void WriteReleaseState(const std::string& path, const TReleaseState& state) {
  const Json json{{"Counter", state.Counter},
                  {"RootKey", state.RootKey},
                  {"CurrentKey", state.CurrentKey},
                  {"NextKey", state.NextKey}};
  const std::string temporary = path + ".new";
  std::error_code ignored;
  fs::remove(temporary, ignored);
  {
    File file = CreateFileOrFail(temporary);
    fs::permissions(temporary, fs::perms::owner_read | fs::perms::owner_write,
                    fs::perm_options::replace);
    file.Write(json.dump() + "\n");
  }
  fs::rename(temporary, path);
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
  const bool found = source.DownloadOne(std::string(kManifestFileName), std::string(kManifestArea),
                                        true, folder) &&
                     FileExists(path);
  if (!found) Guard->Refuse(TReleaseText::NoManifest);
  std::string text;
  try {
    text = ReadLimited(path, kMaxManifestBytes + kMaxSignatureLine);
  } catch (const std::exception& e) {
    Guard->Refuse(TReleaseText::DamagedManifest, e.what());
  }
  std::error_code ignored;
  fs::remove(path, ignored);
  Accept(text, nowSeconds);
}

void TReleaseVerification::Accept(std::string_view manifestText, int64_t nowSeconds) {
  HasAccepted = false;
  Guard = std::make_shared<TReleaseGuard>(Lang);
  SetReleaseGuard(Guard);
  const TReleaseState state = ReadReleaseState(StateFile);
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
  if (manifest.Counter < state.Counter)
    throw EReleaseRefused(
        Format(ReleaseTextIn(Lang, TReleaseText::Rollback), {manifest.Counter, state.Counter}));
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
                           manifest.NextKey};
  HasAccepted = true;
  Guard = std::make_shared<TReleaseGuard>(manifest, Lang);
  SetReleaseGuard(Guard);
}

void TReleaseVerification::CheckList(TFileList& list) const {
  if (!Guard || !Guard->HasManifest()) return;
  const TReleaseManifest& manifest = Guard->Manifest();
  std::erase_if(list, [](const TFileEntry& entry) {
    return ManifestKey(entry.Name) == ManifestKey(kManifestFileName);
  });
  for (const TFileEntry& entry : list) {
    const TManifestFile* signed_ = manifest.Find(entry.Name);
    if (signed_ == nullptr) Guard->Refuse(TReleaseText::NotInManifest, entry.Name);
    if (entry.File.Version != signed_->Version || entry.File.FileAge != signed_->Age)
      Guard->Refuse(TReleaseText::ListDiffers, entry.Name);
  }
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
  WriteReleaseState(StateFile, Accepted);
  HasAccepted = false;
  if (HashCacheFile.empty() || !Digests) return;
  try {
    Digests->Seen().Save(HashCacheFile);
  } catch (const std::exception&) {
    // Without the cache the next start reads every file again; the pass itself succeeded.
  }
}

}  // namespace zor
