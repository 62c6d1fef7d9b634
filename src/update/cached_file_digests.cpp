#include "update/cached_file_digests.h"

#include "platform/open_or_fail.h"

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
  const std::unique_ptr<PositionedFile> file = OpenOrFail(path, OpenMode::ReadOnly);
  const std::optional<FileIdentity> before = file->Identity();
  ++Hashed;
  TFileDigest digest = DigestOpenFile(*file);
  const std::optional<FileIdentity> after = file->Identity();
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
