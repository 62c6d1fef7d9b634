#include "update/release_guard.h"

#include <zlib.h>

#include <mutex>

#include "base/format.h"
#include "platform/open_or_fail.h"
#include "update/cps_file.h"
#include "update/cps_format.h"
#include "update/release_areas.h"
#include "update/release_signature.h"

namespace zor {

namespace {

std::mutex gGuardLock;
std::shared_ptr<const TReleaseGuard> gGuard;

}  // namespace

TReleaseGuard::TReleaseGuard(int langIndex) : Lang(langIndex) {}

TReleaseGuard::TReleaseGuard(TReleaseManifest manifest, int langIndex)
    : Signed(std::move(manifest)), Lang(langIndex) {
  Signed->Index();
}

std::string TReleaseGuard::ReleaseName(std::string_view name, std::string_view area) {
  return AreaFolder(area) + ManifestKey(name);
}

int64_t TReleaseGuard::PackedLimit(int64_t size) {
  return static_cast<int64_t>(compressBound(static_cast<uLong>(size))) + kPackedOverhead;
}

void TReleaseGuard::Refuse(TReleaseText text, std::string_view arg) const {
  throw EReleaseRefused(Format(ReleaseTextIn(Lang, text), {arg}));
}

TManifestFile TReleaseGuard::Entry(std::string_view name, std::string_view area) const {
  const std::string releaseName = ReleaseName(name, area);
  if (!Signed) {
    if (ManifestKey(releaseName) != ManifestKey(kManifestFileName))
      Refuse(TReleaseText::NotInManifest, name);
    TManifestFile limit;
    limit.Name = std::string(kManifestFileName);
    limit.Size = static_cast<int64_t>(kMaxManifestBytes + kMaxSignatureLine);
    return limit;
  }
  const TManifestFile* entry = Signed->Find(releaseName);
  if (entry == nullptr) Refuse(TReleaseText::NotInManifest, name);
  return *entry;
}

void TReleaseGuard::CheckAnnounced(std::string_view name, std::string_view area, int64_t announced,
                                   bool packed) const {
  const TManifestFile entry = Entry(name, area);
  const int64_t limit = packed ? PackedLimit(entry.Size) : entry.Size;
  if (announced > limit || (!packed && Signed && announced != entry.Size))
    Refuse(TReleaseText::TooLong, name);
}

void TReleaseGuard::CheckPackedFile(std::string_view name, std::string_view area,
                                    const std::string& packedPath) const {
  const TManifestFile entry = Entry(name, area);
  const std::unique_ptr<PositionedFile> packed = OpenOrFail(packedPath, OpenMode::ReadOnly);
  uint8_t header[kPackedHeaderSize];
  const size_t got = ReadUpTo(*packed, 0, header, sizeof header);
  const TCpsHeader parsed =
      ParseCpsHeader(std::span<const uint8_t>(header, got), packed->Size(), packedPath);
  if (parsed.UnpackedSize > entry.Size) Refuse(TReleaseText::TooLong, name);
  if (Signed && parsed.UnpackedSize != entry.Size) Refuse(TReleaseText::FileDiffers, name);
}

void TReleaseGuard::CheckFile(std::string_view name, std::string_view area,
                              const std::string& path) const {
  const TManifestFile entry = Entry(name, area);
  const std::unique_ptr<PositionedFile> file = OpenOrFail(path, OpenMode::ReadOnly);
  const std::optional<FileIdentity> identity = file->Identity();
  const TFileDigest digest = DigestOpenFile(*file);
  if (!Signed) {
    if (digest.Size > entry.Size) Refuse(TReleaseText::TooLong, name);
    return;
  }
  if (digest.Size != entry.Size || digest.Sha256 != entry.Sha256)
    Refuse(TReleaseText::FileDiffers, name);
  if (identity && identity->Size == digest.Size) {
    std::lock_guard lock(VerifiedLock);
    Verified[{identity->Device, identity->Inode}] = digest;
  }
}

std::optional<std::string> TReleaseGuard::VerifiedSha256(const FileIdentity& identity) const {
  std::lock_guard lock(VerifiedLock);
  const auto found = Verified.find({identity.Device, identity.Inode});
  if (found == Verified.end() || found->second.Size != identity.Size) return std::nullopt;
  return found->second.Sha256;
}

bool TReleaseGuard::Matches(std::string_view releaseName, const std::string& path) const {
  if (!Signed || Signed->Find(releaseName) == nullptr) return false;
  try {
    return MatchesDigest(releaseName, DigestFile(path));
  } catch (const std::exception&) {
    return false;
  }
}

bool TReleaseGuard::MatchesDigest(std::string_view releaseName, const TFileDigest& digest) const {
  if (!Signed) return false;
  const TManifestFile* entry = Signed->Find(releaseName);
  return entry != nullptr && digest.Size == entry->Size && digest.Sha256 == entry->Sha256;
}

void SetReleaseGuard(std::shared_ptr<const TReleaseGuard> guard) {
  std::lock_guard lock(gGuardLock);
  gGuard = std::move(guard);
}

std::shared_ptr<const TReleaseGuard> GetReleaseGuard() {
  std::lock_guard lock(gGuardLock);
  return gGuard;
}

}  // namespace zor
