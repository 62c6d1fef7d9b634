// The launcher's check of what it downloads against the signed release manifest. While a
// guard is installed, every download consults it: before any byte is fetched the file must
// be part of the release and the size the server announces must fit the signed size; a
// packed file must announce the signed size before it is unpacked; and the finished file
// must have the signed size and SHA-256 before it is renamed into place. Failures raise
// `EReleaseRefused` with a message in the user's language, and nothing is put in place.
//
// The guard remembers the hash of every file that passed `CheckFile` by the file's device,
// inode and size, which the rename into place keeps, so that the launcher can record the
// hash of a fresh download without reading the file again.
//
// Before the manifest itself is verified, a guard that allows only the manifest (up to its
// size limit) is installed, so that not even the manifest's download can grow without end.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "base/exceptions.h"
#include "platform/file_identity.h"
#include "update/release_manifest.h"
#include "update/release_signature.h"
#include "update/release_texts.h"

namespace zor {

// A download the signed release does not allow; the message says which and why.
class EReleaseRefused : public Exception {
 public:
  ZOR_EXCEPTION_BODY(EReleaseRefused, Exception)
};

// Bytes a packed file may add to the zlib bound of its content: the header and some room.
inline constexpr int64_t kPackedOverhead = 1024;

class TReleaseGuard {
 public:
  // Allows only the manifest file, up to the manifest's size limit.
  explicit TReleaseGuard(int langIndex);
  // Checks every file against `manifest`.
  TReleaseGuard(TReleaseManifest manifest, int langIndex);

  bool HasManifest() const { return Signed.has_value(); }
  // The verified manifest; only when `HasManifest`.
  const TReleaseManifest& Manifest() const { return *Signed; }
  int LangIndex() const { return Lang; }

  // The name a download of `name` from `area` has in the release: the area's folder + name.
  static std::string ReleaseName(std::string_view name, std::string_view area);
  // Largest packed form of a file of `size` bytes.
  static int64_t PackedLimit(int64_t size);

  // Before any byte: the file is part of the release, and `announced` (the size of its
  // packed form when `packed`) fits the signed size.
  void CheckAnnounced(std::string_view name, std::string_view area, int64_t announced,
                      bool packed) const;
  // Before unpacking: the packed file's header announces the signed size.
  void CheckPackedFile(std::string_view name, std::string_view area,
                       const std::string& packedPath) const;
  // Before the rename: the file at `path` has the signed size and SHA-256.
  void CheckFile(std::string_view name, std::string_view area, const std::string& path) const;
  // True when the local file at `path` holds what the manifest signs for `releaseName`.
  bool Matches(std::string_view releaseName, const std::string& path) const;
  // The same for a file of the given size and hash.
  bool MatchesDigest(std::string_view releaseName, const TFileDigest& digest) const;
  // The SHA-256 of the file that `CheckFile` passed and that now has `identity`'s device,
  // inode and size; nullopt for any other.
  std::optional<std::string> VerifiedSha256(const FileIdentity& identity) const;

  // Raises `EReleaseRefused` with `text` in the guard's language, `arg` in place of its "%s".
  [[noreturn]] void Refuse(TReleaseText text, std::string_view arg = {}) const;

 private:
  // The signed entry, or the limit of the manifest file while none is verified.
  TManifestFile Entry(std::string_view name, std::string_view area) const;

  std::optional<TReleaseManifest> Signed;
  int Lang;
  // Files that passed `CheckFile`: (device, inode) -> their digest. Downloads run on several
  // threads at once.
  mutable std::mutex VerifiedLock;
  mutable std::map<std::pair<uint64_t, uint64_t>, TFileDigest> Verified;
};

// The guard downloads consult; none (the default) checks nothing.
void SetReleaseGuard(std::shared_ptr<const TReleaseGuard> guard);
std::shared_ptr<const TReleaseGuard> GetReleaseGuard();

}  // namespace zor
