#include "update/cached_file_digests.h"

namespace zor {

TFileDigest TCachedFileDigests::Digest(const std::string& path) {
  if (const std::optional<FileIdentity> identity = ReadFileIdentity(path)) {
    std::optional<std::string> sha = Fresh.Find(path, *identity);
    if (!sha) sha = Known.Find(path, *identity);
    if (sha) {
      Fresh.Put(path, *identity, *sha);
      return TFileDigest{identity->Size, *sha};
    }
  }
  File file = OpenFileOrFail(path, FileAccess::Read);
  const std::optional<FileIdentity> before = ReadFileIdentity(file);
  ++Hashed;
  TFileDigest digest = DigestOpenFile(file);
  const std::optional<FileIdentity> after = ReadFileIdentity(file);
  // Only a file that held still while it was read is remembered: otherwise the hash may not
  // belong to the identity.
  if (before && after && *before == *after && digest.Size == before->Size)
    Fresh.Put(path, *before, digest.Sha256);
  return digest;
}

void TCachedFileDigests::Note(const std::string& path, const FileIdentity& identity,
                              const std::string& sha256) {
  Fresh.Put(path, identity, sha256);
}

}  // namespace zor
